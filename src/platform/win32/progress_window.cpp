// The progress window of a long unpacking: its own thread runs the
// window, so it answers the system (log-off, shut-down, repainting) while
// the main thread unpacks.
#include <windows.h>
#include <commctrl.h>

#include "platform/win32/win32_internal.h"

namespace kay_win32 {

constexpr UINT MSG_SET = WM_APP + 1;
constexpr int BAR_ID = 1;

static HANDLE g_thread;
static HANDLE g_ready;
static HWND g_window;
static const wchar_t* g_title;

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case MSG_SET:
        SendDlgItemMessageW(window, BAR_ID, PBM_SETPOS, wparam, 0);
        return 0;
    case WM_QUERYENDSESSION:
        // Unpacking may be cut off: the next start repairs it.
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
}

static DWORD WINAPI window_thread(void*) {
    // Loaded only when shown (it registers the progress bar's class), so a
    // normal start never loads it.
    LoadLibraryW(L"comctl32.dll");
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW cls{};
    cls.lpfnWndProc = window_proc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));  // IDC_APPSTARTING
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = L"KayProgress";
    RegisterClassW(&cls);
    // A caption and nothing to press: it goes when unpacking ends.
    const int width = 360, height = 96;
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME, cls.lpszClassName, g_title, WS_POPUP | WS_CAPTION,
                                  area.left + (area.right - area.left - width) / 2,
                                  area.top + (area.bottom - area.top - height) / 2, width, height, nullptr, nullptr,
                                  instance, nullptr);
    if (window != nullptr) {
        RECT inside;
        GetClientRect(window, &inside);
        HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 16, (inside.bottom - 20) / 2,
                                   inside.right - 32, 20, window, reinterpret_cast<HMENU>(BAR_ID), instance, nullptr);
        SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
        ShowWindow(window, SW_SHOWNOACTIVATE);
        UpdateWindow(window);
    }
    g_window = window;
    SetEvent(g_ready);
    if (window == nullptr) return 0;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

void progress_window(const wchar_t* title, std::uint32_t permille) {
    if (g_thread == nullptr) {
        g_title = title;
        g_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (g_ready == nullptr) return;
        g_thread = CreateThread(nullptr, 0, window_thread, nullptr, 0, nullptr);
        if (g_thread == nullptr) return;
        WaitForSingleObject(g_ready, INFINITE);
    }
    if (g_window != nullptr) PostMessageW(g_window, MSG_SET, permille, 0);
}

void progress_window_close() {
    if (g_thread == nullptr) return;
    if (g_window != nullptr) PostMessageW(g_window, WM_CLOSE, 0, 0);
    WaitForSingleObject(g_thread, INFINITE);
    CloseHandle(g_thread);
    CloseHandle(g_ready);
    g_thread = nullptr;
    g_window = nullptr;
}

bool error_is_terminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace kay_win32
