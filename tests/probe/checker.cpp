// Test child that checks its siblings: reads manifest.txt beside itself
// (lines "<crc32 hex> <size> <relative path>") and verifies every listed
// file's size and CRC-32 at its start, then again 10 ms after each check
// until CHECK_FOR_MS milliseconds have passed, so that a file rewritten
// under it shows.
// Appends "ok <files>" or "bad <path>" to CHECK_OUT; exits 0 when every
// file matched both times, 1 otherwise.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

static std::uint32_t g_table[256];

static std::uint32_t crc32_of(const std::vector<unsigned char>& data) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : data) c = g_table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

static bool read_all(const std::string& path, std::vector<unsigned char>& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out.clear();
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return true;
}

static std::string own_dir() {
    char path[4096];
#if defined(_WIN32)
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    path[n < sizeof path ? n : sizeof path - 1] = 0;
    std::string s = path;
    return s.substr(0, s.find_last_of("\\/"));
#else
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    path[n > 0 ? n : 0] = 0;
    std::string s = path;
    return s.substr(0, s.rfind('/'));
#endif
}

static void sleep_ms(long ms) {
#if defined(_WIN32)
    Sleep(static_cast<DWORD>(ms));
#else
    usleep(static_cast<useconds_t>(ms) * 1000);
#endif
}

// Empty when all match, else the first path that does not.
static std::string check(const std::string& dir, int* files) {
    std::vector<unsigned char> manifest;
    if (!read_all(dir + "/manifest.txt", manifest)) return "manifest.txt";
    std::string text(manifest.begin(), manifest.end());
    size_t pos = 0;
    *files = 0;
    std::vector<unsigned char> data;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        unsigned long crc = 0;
        unsigned long long size = 0;
        char name[1024];
        if (std::sscanf(line.c_str(), "%lx %llu %1023s", &crc, &size, name) != 3) return "manifest.txt";
        std::string path = dir + "/" + name;
        if (!read_all(path, data) || data.size() != size || crc32_of(data) != crc) return name;
        (*files)++;
    }
    return "";
}

int main() {
    for (std::uint32_t i = 0; i < 256; i++) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        g_table[i] = c;
    }
    std::string dir = own_dir();
    int files = 0;
    std::string bad = check(dir, &files);
    // Then again and again until CHECK_FOR_MS milliseconds have passed.
    const char* span = std::getenv("CHECK_FOR_MS");
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(span ? std::atol(span) : 0);
    while (bad.empty() && std::chrono::steady_clock::now() < until) {
        sleep_ms(10);
        bad = check(dir, &files);
    }
    const char* out = std::getenv("CHECK_OUT");
    if (out != nullptr) {
        FILE* f = std::fopen(out, "ab");
        if (f != nullptr) {
            if (bad.empty()) std::fprintf(f, "ok %d\n", files);
            else std::fprintf(f, "bad %s\n", bad.c_str());
            std::fclose(f);
        }
    }
    return bad.empty() ? 0 : 1;
}
