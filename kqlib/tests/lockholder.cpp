// Test helper: claims a name in a folder and holds it until it is killed.
//   lockholder FOLDER NAME EVENT
// Sets the named event once the claim is held; exits with 2 when the name is already claimed.
#include <windows.h>

#include "kqSingleInstance.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 1;
    CFolderSingleInstance lock;
    if (!lock.Lock(argv[1], argv[2]))
        return 2;
    HANDLE hReady = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!hReady)
        return 3;
    SetEvent(hReady);
    CloseHandle(hReady);
    Sleep(INFINITE);
    return 0;
}
