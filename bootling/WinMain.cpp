#include <windows.h>

#include "BootlingMain.h"

int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPWSTR /*pszCmdLine*/, int /*nShowCmd*/)
{
    // The install manager reads the command line from the process itself.
    CEntrySeams seams;
    return BootlingMain(seams);
}
