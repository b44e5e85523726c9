// Messages of the GUI launcher, which has no console of its own.
#include "platform/win32/gui.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace kay_win32 {

// The product name from the launcher's own version resource (present even
// when its data block is damaged), else its file name without ".exe".
static void product_title(wchar_t* out, DWORD capacity) {
    wchar_t self[MAX_PATH + 1];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    self[n <= MAX_PATH ? n : MAX_PATH] = 0;
    const wchar_t* base = self;
    for (const wchar_t* c = self; *c != 0; c++)
        if (*c == L'\\' || *c == L'/') base = c + 1;
    lstrcpynW(out, base, static_cast<int>(capacity));
    std::size_t len = std::wcslen(out);
    if (len > 4 && lstrcmpiW(out + len - 4, L".exe") == 0) out[len - 4] = 0;

    // Only loaded when something is shown: a normal start does without it.
    HMODULE version = LoadLibraryW(L"version.dll");
    if (version == nullptr) return;
    auto size_of = reinterpret_cast<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>(
        reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoSizeW")));
    auto info_of = reinterpret_cast<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>(
        reinterpret_cast<void*>(GetProcAddress(version, "GetFileVersionInfoW")));
    auto query = reinterpret_cast<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>(
        reinterpret_cast<void*>(GetProcAddress(version, "VerQueryValueW")));
    DWORD unused = 0;
    DWORD size = size_of != nullptr && info_of != nullptr && query != nullptr ? size_of(self, &unused) : 0;
    void* data = size > 0 ? HeapAlloc(GetProcessHeap(), 0, size) : nullptr;
    wchar_t* product = nullptr;
    UINT length = 0;
    // kay-pack writes the strings as US English, UTF-16.
    if (data != nullptr && info_of(self, 0, size, data) &&
        query(data, L"\\StringFileInfo\\040904B0\\ProductName", reinterpret_cast<void**>(&product), &length) &&
        product != nullptr && length > 1)
        lstrcpynW(out, product, static_cast<int>(capacity));
    if (data != nullptr) HeapFree(GetProcessHeap(), 0, data);
    FreeLibrary(version);
}

static bool usable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN; }

void gui_message(kay_stream stream, bool error, const char* line) {
    DWORD which = stream == KAY_TO_STDOUT ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
    if (usable(GetStdHandle(which))) {
        // Handed over by a parent: written as the console launcher writes it.
        std::FILE* out = stream == KAY_TO_STDOUT ? stdout : stderr;
        std::fputs(line, out);
        std::fflush(out);
    } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        // The console of the parent (a command prompt): the runtime's
        // streams were never connected to it, so the line goes straight in.
        HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        if (console != INVALID_HANDLE_VALUE) {
            for (const char* at = line; *at != 0; at++) {
                if (*at == '\n') WriteFile(console, "\r", 1, &written, nullptr);
                WriteFile(console, at, 1, &written, nullptr);
            }
            CloseHandle(console);
        }
        FreeConsole();
    }
    if (!error) return;
    // The text as written: each byte back to the character it stands for
    // (the runtime writes wide text in its "C" locale, one byte each), the
    // line end left out.
    static wchar_t text[16384];
    std::size_t n = 0;
    for (; line[n] != 0 && n + 1 < sizeof text / sizeof text[0]; n++) text[n] = static_cast<unsigned char>(line[n]);
    while (n > 0 && (text[n - 1] == L'\n' || text[n - 1] == L'\r')) n--;
    text[n] = 0;
    wchar_t title[256];
    product_title(title, 256);
    MessageBoxW(nullptr, text, title, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

}  // namespace kay_win32
