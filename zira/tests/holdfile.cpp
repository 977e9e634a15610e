// Test helper: holdfile PATH EVENT opens PATH without delete sharing, signals the named event
// and waits until it is terminated (at most a minute).
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    HANDLE hFile = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return 3;
    HANDLE hEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!hEvent)
        return 4;
    SetEvent(hEvent);
    Sleep(60000);
    CloseHandle(hEvent);
    CloseHandle(hFile);
    return 0;
}
