// Environment, user folders, own path and clocks through the Win32 API.
#include <windows.h>
#include <shlobj.h>

#include "platform/win32/win32_internal.h"

namespace kay_win32 {

void set_dll_directory_empty() { SetDllDirectoryW(L""); }

std::uint32_t get_env(const wchar_t* name, wchar_t* out, std::uint32_t capacity) {
    return GetEnvironmentVariableW(name, out, capacity);
}

int set_env(const wchar_t* name, const wchar_t* value) { return SetEnvironmentVariableW(name, value); }

std::uint32_t current_pid() { return GetCurrentProcessId(); }

std::uint32_t module_path(wchar_t* out, std::uint32_t capacity) {
    return GetModuleFileNameW(nullptr, out, capacity);
}

std::uint32_t temp_path(wchar_t* out, std::uint32_t capacity) { return GetTempPathW(capacity, out); }

bool user_folder(kay_folder which, wchar_t* out, std::uint32_t capacity) {
    (void)capacity;  // SHGetFolderPathW writes at most MAX_PATH units.
    int csidl = which == KAY_FOLDER_HOME ? CSIDL_PROFILE : CSIDL_LOCAL_APPDATA;
    return SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, out) == S_OK;
}

std::uint32_t full_path(const wchar_t* in, wchar_t* out, std::uint32_t capacity) {
    return GetFullPathNameW(in, capacity, out, nullptr);
}

std::uint64_t perf_counter() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart);
}

std::uint64_t system_time() {
    FILETIME ft = {0, 0};
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace kay_win32
