// Resource ids of Cronwick.exe.
#pragma once

#define IDS_APP_TITLE 103
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDI_CRONWICK 107
#define IDI_SMALL 108
#define IDC_CRONWICK 109
