// Finds a top-level window of the class and title given, as a user would
// see it, and reports it in the probe's format:
//   find_window CLASS TITLE TIMEOUT_MS [close | until FILE | count N]
// prints title=<hex> and text=<hex> (the first static text inside: a
// message box's message) once the window shows up; "close" then closes it;
// "until FILE" waits until FILE exists and prints after=shown or
// after=gone; "count N" waits until N such windows are shown at once and
// prints count=<the most seen>. Exit 0 when found, 1 when not within
// TIMEOUT_MS.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

static std::string hex(const wchar_t* w) {
    char utf8[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::string out;
    for (int i = 0; i + 1 < n; i++) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(utf8[i]));
        out += pair;
    }
    return out;
}

static BOOL CALLBACK first_text(HWND child, LPARAM found) {
    wchar_t cls[64], text[4096];
    GetClassNameW(child, cls, 64);
    if (lstrcmpiW(cls, L"Static") != 0 || GetWindowTextW(child, text, 4096) == 0) return TRUE;
    *reinterpret_cast<std::wstring*>(found) = text;
    return FALSE;
}

static wchar_t** g_wanted;

static BOOL CALLBACK count_one(HWND window, LPARAM count) {
    wchar_t cls[256], title[1024];
    GetClassNameW(window, cls, 256);
    GetWindowTextW(window, title, 1024);
    if (std::wcscmp(cls, g_wanted[1]) == 0 && std::wcscmp(title, g_wanted[2]) == 0) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

int wmain(int argc, wchar_t** argv) {
    g_wanted = argv;
    if (argc < 4) return 2;
    DWORD timeout = static_cast<DWORD>(_wtol(argv[3]));
    HWND window = nullptr;
    for (DWORD waited = 0; (window = FindWindowW(argv[1], argv[2])) == nullptr && waited < timeout; waited += 20)
        Sleep(20);
    if (window == nullptr) return 1;
    wchar_t title[1024];
    GetWindowTextW(window, title, 1024);
    std::wstring text;
    EnumChildWindows(window, first_text, reinterpret_cast<LPARAM>(&text));
    std::printf("title=%s\ntext=%s\n", hex(title).c_str(), hex(text.c_str()).c_str());
    if (argc > 4 && std::wcscmp(argv[4], L"close") == 0) PostMessageW(window, WM_CLOSE, 0, 0);
    if (argc > 5 && std::wcscmp(argv[4], L"until") == 0) {
        for (DWORD waited = 0; GetFileAttributesW(argv[5]) == INVALID_FILE_ATTRIBUTES && waited < timeout; waited += 20)
            Sleep(20);
        std::printf("after=%s\n", FindWindowW(argv[1], argv[2]) != nullptr ? "shown" : "gone");
    }
    if (argc > 5 && std::wcscmp(argv[4], L"count") == 0) {
        int most = 0;
        for (DWORD waited = 0; most < _wtoi(argv[5]) && waited < timeout; waited += 20) {
            int count = 0;
            EnumWindows(count_one, reinterpret_cast<LPARAM>(&count));
            if (count > most) most = count;
            Sleep(20);
        }
        std::printf("count=%d\n", most);
    }
    return 0;
}
