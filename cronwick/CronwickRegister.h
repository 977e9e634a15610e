// The registration: one job from the options, saved through the job manager. A failed step
// ends it and is written to the event log as "Error 0x%08X: <step>".
#pragma once
#include <windows.h>

// The fixed worker of every job.
// {48E5F865-886F-43C0-BC20-89AD15DFD9A5}
constexpr GUID kWorkerId = {0x48e5f865, 0x886f, 0x43c0, {0xbc, 0x20, 0x89, 0xad, 0x15, 0xdf, 0xd9, 0xa5}};
constexpr wchar_t kszWorkerPath[] = L"%INSTALLDIR%\\TestWorker.dll";

// The outcome: S_OK, or the failure code of the step that failed.
HRESULT RegisterJob();
