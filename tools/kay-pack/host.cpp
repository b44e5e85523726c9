#include "host.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <climits>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Puts `path` into the first free slot of `slots`; -1 when none is free or
// it does not fit.
template <typename Char, std::size_t N>
static int remember_in(Char (&slots)[HOST_REMEMBERED][N], const std::basic_string<Char>& path) {
    if (path.size() >= N) return -1;
    for (int i = 0; i < HOST_REMEMBERED; i++) {
        if (slots[i][0] != 0) continue;
        std::copy(path.begin(), path.end(), slots[i]);
        slots[i][path.size()] = 0;
        return i;
    }
    return -1;
}

#ifdef _WIN32

static std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

static std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// errno for the calling thread's last Windows error.
static void set_errno_from_last_error() {
    errno = std::error_code(static_cast<int>(GetLastError()), std::system_category()).default_error_condition().value();
}

std::filesystem::path fs_path(const std::string& utf8) { return std::filesystem::path(wide(utf8)); }
std::string utf8_path(const std::filesystem::path& path) { return narrow(path.wstring()); }

std::FILE* host_fopen(const std::string& path, const char* mode) {
    std::wstring m = wide(mode);
    if (m.find(L'b') == std::wstring::npos) m += L'b';
    return _wfopen(wide(path).c_str(), m.c_str());
}

std::FILE* host_create_unique(std::string& pattern) {
    static unsigned counter = 0;
    std::size_t at = pattern.size() - 6;
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned value = GetCurrentProcessId() * 7919u + GetTickCount() + counter++ * 104729u;
        for (int i = 0; i < 6; i++, value /= 36) pattern[at + i] = "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
        int fd = _wopen(wide(pattern).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd >= 0) return _fdopen(fd, "wb");
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

bool host_set_mode(std::FILE*, unsigned) { return true; }

bool host_rename(const std::string& from, const std::string& to) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    set_errno_from_last_error();
    return false;
}

static wchar_t g_remembered[HOST_REMEMBERED][32768];

int host_remember(const std::string& path) { return remember_in(g_remembered, wide(path)); }

void host_remove_remembered() {
    for (wchar_t* path : g_remembered) {
        if (path[0] != 0) DeleteFileW(path);
        path[0] = 0;
    }
}

void host_forget(int slot) {
    if (slot >= 0) g_remembered[slot][0] = 0;
}

void host_remove(const std::string& path) { DeleteFileW(wide(path).c_str()); }

bool host_map(const std::string& path, MappedFile& file, bool& regular) {
    std::wstring w = wide(path);
    DWORD attributes = GetFileAttributesW(w.c_str());
    regular = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        set_errno_from_last_error();
        return false;
    }
    LARGE_INTEGER size;
    if (!regular || !GetFileSizeEx(h, &size) || GetFileType(h) != FILE_TYPE_DISK) {
        regular = false;
        CloseHandle(h);
        return true;
    }
    file.size = static_cast<std::size_t>(size.QuadPart);
    if (file.size > 0) {
        HANDLE mapping = CreateFileMappingW(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
        void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (view == nullptr) set_errno_from_last_error();
        if (mapping != nullptr) CloseHandle(mapping);
        CloseHandle(h);
        if (view == nullptr) return false;
        file.data = static_cast<const unsigned char*>(view);
        file.handle = view;
        return true;
    }
    CloseHandle(h);
    return true;
}

void host_unmap(MappedFile& file) {
    if (file.handle != nullptr) UnmapViewOfFile(file.handle);
    file = MappedFile{};
}

std::string host_self_path() {
    std::wstring buf(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0 || n >= buf.size()) return "";
    buf.resize(n);
    return narrow(buf);
}

bool host_stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

#else

std::filesystem::path fs_path(const std::string& utf8) { return std::filesystem::path(utf8); }
std::string utf8_path(const std::filesystem::path& path) { return path.string(); }

std::FILE* host_fopen(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* host_create_unique(std::string& pattern) {
    int fd = mkstemp(pattern.data());
    if (fd < 0) return nullptr;
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fdopen(fd, "wb");
}

static mode_t current_umask() {
    mode_t mask = umask(022);
    umask(mask);
    return mask;
}

bool host_set_mode(std::FILE* file, unsigned mode) {
    return fchmod(fileno(file), static_cast<mode_t>(mode & ~current_umask() & 07777)) == 0;
}

bool host_rename(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

// Fixed storage so that the signal handler can unlink without allocating.
static char g_remembered[HOST_REMEMBERED][4096];

int host_remember(const std::string& path) { return remember_in(g_remembered, path); }

void host_remove_remembered() {
    for (char* path : g_remembered) {
        if (path[0] != 0) unlink(path);
        path[0] = 0;
    }
}

void host_forget(int slot) {
    if (slot >= 0) g_remembered[slot][0] = 0;
}

void host_remove(const std::string& path) { unlink(path.c_str()); }

bool host_map(const std::string& path, MappedFile& file, bool& regular) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return false;
    }
    regular = S_ISREG(st.st_mode);
    if (regular && st.st_size > 0) {
        file.size = static_cast<std::size_t>(st.st_size);
        void* map = mmap(nullptr, file.size, PROT_READ, MAP_PRIVATE, fd, 0);
        int err = errno;
        close(fd);
        if (map == MAP_FAILED) {
            errno = err;
            file.size = 0;
            return false;
        }
        file.data = static_cast<const unsigned char*>(map);
        file.handle = map;
        return true;
    }
    close(fd);
    return true;
}

void host_unmap(MappedFile& file) {
    if (file.handle != nullptr) munmap(file.handle, file.size);
    file = MappedFile{};
}

std::string host_self_path() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n <= 0 ? "" : std::string(buf, static_cast<std::size_t>(n));
}

bool host_stderr_is_terminal() { return isatty(STDERR_FILENO) != 0; }

#endif

std::string error_text(int errno_value) { return std::strerror(errno_value); }

std::string error_text(const std::error_code& ec) {
    std::error_condition condition = ec.default_error_condition();
    if (condition.category() == std::generic_category()) return std::strerror(condition.value());
    return ec.message();
}
