// Cronwick: registers one scheduled job with the job manager. The window shell and the
// registration steps are added on top of this entry point.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPWSTR /*pszCmdLine*/, int /*nShowCmd*/)
{
    return 0;
}
