// Test program: dies of an access violation, as a crashing test would.
#include <windows.h>

int wmain()
{
    volatile int* pNowhere = nullptr;
    *pNowhere = 1;
    return 0;
}
