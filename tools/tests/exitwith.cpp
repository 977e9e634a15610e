// Test program: exits with the 32-bit code given as its only argument (hexadecimal or decimal).
#include <windows.h>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 1;
    ExitProcess(static_cast<UINT>(wcstoul(argv[1], nullptr, 0)));
}
