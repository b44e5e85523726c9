// Paths below the target folder on Windows: a symbolic link or junction
// met there, on the way or at the name itself, makes the call fail instead
// of being followed. Another user cannot write inside the user's profile,
// so looking at each name before the call is enough here.
#include <windows.h>

#include <cwchar>

#include "platform/win32/win32_internal.h"

namespace kay_win32 {

constexpr std::size_t PATH_ROOM = 32768;

static wchar_t g_root[PATH_ROOM];
static std::size_t g_root_len;
// The last folder found free of links, as the calls were given it, for
// each thread (the warm check runs on several).
static thread_local wchar_t g_folder[PATH_ROOM];
static thread_local std::size_t g_folder_len;

bool confine_below(const wchar_t* dir) {
    std::size_t n = std::wcslen(dir);
    if (n == 0 || n >= PATH_ROOM) return false;
    DWORD attributes = GetFileAttributesW(dir);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
    std::wmemcpy(g_root, dir, n + 1);
    while (n > 3 && (g_root[n - 1] == L'\\' || g_root[n - 1] == L'/')) g_root[--n] = 0;
    g_root_len = n;
    forget_folder();
    return true;
}

void forget_folder() { g_folder_len = 0; }

bool is_link(const wchar_t* path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    // Other reparse points (deduplicated or cloud files) hold the file's
    // own data and are opened as files.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(path, &data);
    if (find == INVALID_HANDLE_VALUE) return true;
    FindClose(find);
    return data.dwReserved0 == IO_REPARSE_TAG_SYMLINK || data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
}

// Where the path's own text begins, past a "\\?\" or "\\?\UNC\" prefix
// (the UNC form compares from its second separator).
static const wchar_t* plain(const wchar_t* path, bool* unc) {
    *unc = false;
    if (std::wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        *unc = true;
        return path + 7;
    }
    return std::wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
}

static bool is_sep(wchar_t c) { return c == L'\\' || c == L'/'; }

bool free_of_links(const wchar_t* path, bool with_name) {
    bool unc;
    const wchar_t* text = plain(path, &unc);
    std::size_t skip = static_cast<std::size_t>(text - path);
    if (unc ? (g_root[0] != L'\\' || std::wcsncmp(text + 1, g_root + 1, g_root_len - 1) != 0)
            : std::wcsncmp(text, g_root, g_root_len) != 0)
        return true;
    if (g_root_len == 0 || !is_sep(text[g_root_len]) || text[g_root_len + 1] == 0) return true;
    std::size_t end = std::wcslen(path);
    std::size_t last = end;
    while (last > 0 && !is_sep(path[last - 1])) last--;
    std::size_t checked = skip + g_root_len;
    if (g_folder_len > 0 && g_folder_len <= last && std::wcsncmp(path, g_folder, g_folder_len) == 0 &&
        (g_folder_len == last || is_sep(path[g_folder_len])))
        checked = g_folder_len;
    static thread_local wchar_t part[PATH_ROOM];
    std::wmemcpy(part, path, end + 1);
    for (std::size_t i = checked + 1; i <= end; i++) {
        if (i < end && !is_sep(path[i])) continue;
        if (i == end && !with_name) break;
        part[i] = 0;
        DWORD attributes = GetFileAttributesW(part);
        bool link = is_link(part, attributes);
        part[i] = path[i];
        if (link) {
            SetLastError(ERROR_CANT_RESOLVE_FILENAME);
            return false;
        }
        // Nothing further down exists to be looked at.
        if (attributes == INVALID_FILE_ATTRIBUTES) break;
        if (i < end) {
            std::wmemcpy(g_folder, path, i);
            g_folder[i] = 0;
            g_folder_len = i;
        }
    }
    return true;
}

}  // namespace kay_win32
