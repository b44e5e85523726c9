// Status of files for the state record without opening them: one
// enumeration of a folder (FileIdBothDirectoryInfo: size, times, file ID,
// attributes) answers every call on a file in it, until the next folder.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/win32/win32_internal.h"

namespace kay_win32 {

namespace {

constexpr std::size_t PATH_ROOM = 32768;
constexpr DWORD CHUNK = 65536;
// 100 ns intervals from 1601 to 1970.
constexpr std::int64_t EPOCH_1970 = 116444736000000000;

struct listing {
    wchar_t folder[PATH_ROOM];
    std::size_t folder_len = 0;
    unsigned char* data = nullptr;  // FILE_ID_BOTH_DIR_INFO records, end to end
    std::size_t size = 0;
    std::uint64_t volume = 0;
};
thread_local listing g_listing;

std::int64_t ns_of(LARGE_INTEGER t) { return t.QuadPart == 0 ? 0 : (t.QuadPart - EPOCH_1970) * 100; }

// Reads the folder `folder` (its first `len` units) into g_listing.
bool list(const wchar_t* folder, std::size_t len) {
    listing& l = g_listing;
    std::free(l.data);
    l.data = nullptr;
    l.size = 0;
    l.folder_len = 0;
    std::wmemcpy(l.folder, folder, len);
    l.folder[len] = 0;
    HANDLE h = CreateFileW(l.folder, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    l.volume = GetFileInformationByHandle(h, &info) ? info.dwVolumeSerialNumber : 0;
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        unsigned char* grown = static_cast<unsigned char*>(std::realloc(l.data, l.size + CHUNK));
        if (grown == nullptr) break;
        l.data = grown;
        if (!GetFileInformationByHandleEx(h, kind, l.data + l.size, CHUNK)) break;
        kind = FileIdBothDirectoryInfo;
        // Records of one call end where the last one says so.
        std::size_t at = l.size;
        for (;;) {
            auto* r = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(l.data + at);
            if (r->NextEntryOffset == 0) {
                l.size = at + offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + r->FileNameLength;
                // The next record starts aligned.
                l.size = (l.size + 7) & ~static_cast<std::size_t>(7);
                r->NextEntryOffset = static_cast<DWORD>(l.size - at);
                break;
            }
            at += r->NextEntryOffset;
        }
    }
    CloseHandle(h);
    l.folder_len = len;
    return true;
}

}  // namespace

bool stat_entry(const wchar_t* path, kay_file_status* status) {
    if (!free_of_links(path, true)) return false;
    std::size_t n = std::wcslen(path), name = n;
    while (name > 0 && path[name - 1] != L'\\' && path[name - 1] != L'/') name--;
    if (name == 0 || name >= PATH_ROOM) return false;
    listing& l = g_listing;
    if (l.folder_len != name - 1 || std::wmemcmp(l.folder, path, name - 1) != 0) {
        if (!list(path, name - 1)) return false;
    }
    std::size_t units = n - name;
    for (std::size_t at = 0; at < l.size;) {
        auto* r = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(l.data + at);
        if (r->FileNameLength == units * sizeof(wchar_t) &&
            std::memcmp(r->FileName, path + name, units * sizeof(wchar_t)) == 0) {
            DWORD a = r->FileAttributes;
            status->kind = a & FILE_ATTRIBUTE_REPARSE_POINT ? KAY_NODE_LINK
                           : a & FILE_ATTRIBUTE_DIRECTORY   ? KAY_NODE_FOLDER
                                                            : KAY_NODE_FILE;
            status->owner = user_id();
            status->mode = a;
            status->size = static_cast<std::uint64_t>(r->EndOfFile.QuadPart);
            status->mtime_ns = ns_of(r->LastWriteTime);
            status->ctime_ns = ns_of(r->ChangeTime);
            status->device = l.volume;
            status->inode = static_cast<std::uint64_t>(r->FileId.QuadPart);
            return true;
        }
        if (r->NextEntryOffset == 0) break;
        at += r->NextEntryOffset;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
}

bool rename_file(const wchar_t* from, const wchar_t* to) {
    if (!free_of_links(from, true) || !free_of_links(to, false)) return false;
    forget_folder();
    g_listing.folder_len = 0;
    return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace kay_win32
