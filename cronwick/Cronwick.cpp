// Cronwick: registers one scheduled job with the job manager from its command-line options.
// The window shows only while the registration runs; failures go to the event log, and the
// exit code is always 0.
#include <windows.h>

#include "CronwickEvent.h"
#include "CronwickOptions.h"
#include "CronwickRegister.h"
#include "resource.h"

namespace {

constexpr int kcchLoadString = 100;

LRESULT CALLBACK WndProc(HWND hWnd, UINT uMessage, WPARAM wParam, LPARAM lParam)
{
    switch (uMessage)
    {
    case WM_COMMAND:
        switch (LOWORD(wParam))
        {
        case IDM_EXIT:
            DestroyWindow(hWnd);
            return 0;
        case IDM_ABOUT:
            return 0;
        default:
            return DefWindowProcW(hWnd, uMessage, wParam, lParam);
        }
    case WM_PAINT:
    {
        PAINTSTRUCT ps;
        BeginPaint(hWnd, &ps);
        EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hWnd, uMessage, wParam, lParam);
    }
}

ATOM RegisterMainClass(HINSTANCE hInstance, const wchar_t* pszClass)
{
    WNDCLASSEXW wcex = {};
    wcex.cbSize = sizeof(wcex);
    wcex.style = CS_HREDRAW | CS_VREDRAW;
    wcex.lpfnWndProc = WndProc;
    wcex.hInstance = hInstance;
    wcex.hIcon = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_CRONWICK));
    wcex.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wcex.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wcex.lpszMenuName = MAKEINTRESOURCEW(IDC_CRONWICK);
    wcex.lpszClassName = pszClass;
    wcex.hIconSm = LoadIconW(hInstance, MAKEINTRESOURCEW(IDI_SMALL));
    return RegisterClassExW(&wcex);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*pszCmdLine*/, int nShowCmd)
{
    wchar_t szTitle[kcchLoadString] = L"";
    wchar_t szWindowClass[kcchLoadString] = L"";
    LoadStringW(hInstance, IDS_APP_TITLE, szTitle, kcchLoadString);
    LoadStringW(hInstance, IDC_CRONWICK, szWindowClass, kcchLoadString);
    RegisterMainClass(hInstance, szWindowClass);

    HWND hWnd = CreateWindowW(szWindowClass, szTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                              nullptr, nullptr, hInstance, nullptr);
    if (!hWnd)
        return 0;
    ShowWindow(hWnd, nShowCmd);
    UpdateWindow(hWnd);
    HACCEL hAccelTable = LoadAcceleratorsW(hInstance, MAKEINTRESOURCEW(IDC_CRONWICK));

    BuildOptionMap(GetCommandLineW());
    if (GetOptionInt(L"testError") != 0)
        ReportEventError(L"TestError should be 123. Was: %ld", 123L);
    else
        RegisterJob();

    // The window closes as soon as the messages already queued are handled.
    PostQuitMessage(0);
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
    {
        if (!TranslateAcceleratorW(msg.hwnd, hAccelTable, &msg))
        {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
