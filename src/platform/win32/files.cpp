// Files and directories through the Win32 API.
#include <windows.h>

#include "platform/win32/win32_internal.h"

namespace kay_win32 {

static kay_file from_handle(HANDLE h) { return h == INVALID_HANDLE_VALUE ? kay_file{} : to_handle<kay_file>(h); }

kay_file open_read(const wchar_t* path) {
    if (!free_of_links(path, true)) return kay_file{};
    return from_handle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::uint64_t file_size(kay_file file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(system_handle(file), &size) || size.QuadPart < 0) return KAY_NO_SIZE;
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool file_executable(kay_file file) {
    (void)file;
    return true;
}

std::uint32_t read_file(kay_file file, void* buffer, std::uint32_t capacity) {
    char* p = static_cast<char*>(buffer);
    std::uint32_t done = 0;
    while (done < capacity) {
        DWORD n = 0;
        if (!ReadFile(system_handle(file), p + done, capacity - done, &n, nullptr)) return KAY_READ_FAILED;
        if (n == 0) break;
        done += n;
    }
    return done;
}

kay_file open_file(const wchar_t* path, unsigned flags) {
    if (!free_of_links(path, true)) return kay_file{};
    if (flags & KAY_OPEN_FOLDER)
        return from_handle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD access = flags & KAY_OPEN_WRITE    ? GENERIC_WRITE
                   : flags & KAY_OPEN_CREATE ? GENERIC_READ | FILE_WRITE_ATTRIBUTES
                                             : GENERIC_READ;
    DWORD share = flags & KAY_OPEN_WRITE ? FILE_SHARE_WRITE : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD how = flags & KAY_OPEN_CREATE ? (flags & KAY_OPEN_WRITE ? CREATE_ALWAYS : OPEN_ALWAYS) : OPEN_EXISTING;
    return from_handle(CreateFileW(path, access, share, nullptr, how, 0, nullptr));
}

static void status_of(DWORD attributes, std::uint64_t size, kay_file_status* status, bool link = false) {
    status->kind = link ? KAY_NODE_LINK : attributes & FILE_ATTRIBUTE_DIRECTORY ? KAY_NODE_FOLDER : KAY_NODE_FILE;
    status->owner = user_id();
    status->mode = 0;
    status->size = size;
}

bool stat_file(kay_file file, kay_file_status* status) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(system_handle(file), &info)) {
        status_of(info.dwFileAttributes, (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
                  status);
        // 100 ns intervals since 1601, as ns since 1970.
        std::int64_t written = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime)
                                                          << 32) | info.ftLastWriteTime.dwLowDateTime);
        status->mtime_ns = (written - 116444736000000000) * 100;
        status->device = info.dwVolumeSerialNumber;
        status->inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        status->links = info.nNumberOfLinks;
        return true;
    }
    // A handle the system opened as a file but cannot describe (a device
    // behind the name under Wine) is taken as the empty file that opening
    // it for writing made, as Windows itself writes to it.
    if (GetFileType(system_handle(file)) == FILE_TYPE_UNKNOWN) return false;
    status_of(0, 0, status);
    return true;
}

bool stat_path(const wchar_t* path, kay_file_status* status) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!free_of_links(path, false) || !GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    status_of(data.dwFileAttributes, (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
              status, is_link(path, data.dwFileAttributes));
    return true;
}

std::uint32_t read_link(const wchar_t* path, wchar_t* out, std::uint32_t capacity) {
    (void)path;
    (void)out;
    (void)capacity;
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}

bool remove_file(const wchar_t* path) {
    if (!free_of_links(path, false)) return false;
    forget_folder();
    // A link to a folder is removed as a folder, which leaves its target.
    DWORD attributes = GetFileAttributesW(path);
    if (is_link(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return RemoveDirectoryW(path) != 0;
    return DeleteFileW(path) != 0;
}

kay_wait_result lock_file(kay_file file, bool exclusive) {
    OVERLAPPED at{};
    DWORD how = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(system_handle(file), how, 0, 1, 0, &at)) return KAY_WAIT_DONE;
    return GetLastError() == ERROR_LOCK_VIOLATION ? KAY_WAIT_TIMEOUT : KAY_WAIT_FAILED;
}

bool touch_file(kay_file file) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return SetFileTime(system_handle(file), nullptr, nullptr, &now) != 0;
}

bool list_folder(const wchar_t* path, kay_name_visitor visit, void* arg) {
    static thread_local wchar_t pattern[32768 + 3];
    std::size_t n = 0;
    while (path[n] != 0 && n < 32768) n++;
    if (n >= 32768 || !free_of_links(path, true)) return false;
    CopyMemory(pattern, path, n * sizeof(wchar_t));
    pattern[n] = L'\\';
    pattern[n + 1] = L'*';
    pattern[n + 2] = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW(pattern, FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const wchar_t* name = data.cFileName;
        if (!(name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)))) visit(arg, name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
}

bool remove_folder(const wchar_t* path) {
    if (!free_of_links(path, false)) return false;
    forget_folder();
    return RemoveDirectoryW(path) != 0;
}

bool truncate_file(kay_file file) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(system_handle(file), zero, nullptr, FILE_BEGIN) && SetEndOfFile(system_handle(file));
}

std::uint32_t user_id() { return 1; }

void mark_executable(kay_file file, bool executable) {
    (void)file;
    (void)executable;
}

bool write_file(kay_file file, const void* data, std::uint32_t size) {
    DWORD written = 0;
    if (!WriteFile(system_handle(file), data, size, &written, nullptr)) return false;
    // A write that reports success but stored less is a failed write.
    if (written != size) {
        SetLastError(ERROR_HANDLE_DISK_FULL);
        return false;
    }
    return true;
}

void close_file(kay_file file) { CloseHandle(system_handle(file)); }

kay_mkdir_result create_directory(const wchar_t* path, std::uint32_t mode) {
    (void)mode;
    if (!free_of_links(path, false)) return KAY_MKDIR_FAILED;
    if (CreateDirectoryW(path, nullptr)) return KAY_MKDIR_CREATED;
    return GetLastError() == ERROR_ALREADY_EXISTS ? KAY_MKDIR_EXISTS : KAY_MKDIR_FAILED;
}

std::uint32_t last_error() { return GetLastError(); }

void set_last_error(std::uint32_t code) { SetLastError(code); }

std::uint32_t error_text(std::uint32_t code, char* out, std::uint32_t capacity) {
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ALLOCATE_BUFFER,
                             nullptr, code, 0x0409, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (n == 0 || text == nullptr) return 0;
    if (n >= capacity) n = capacity - 1;
    CopyMemory(out, text, n);
    out[n] = 0;
    // The buffer is left to the process end, which follows at once.
    return n;
}

}  // namespace kay_win32
