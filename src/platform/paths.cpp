#include "platform/paths.h"

#include <cstring>
#include <type_traits>

#include "common/bounded.h"

std::uint32_t kay_resolve_path(const kchar* base, const kchar* in, kchar* out, std::uint32_t capacity) {
    static kchar work[16384];
    static kchar result[16384];
    std::uint32_t in_len = kay_strlen(in);
    if (in_len == 0) return 0;
    std::uint32_t pos = 0;
    if (in[0] != '/') {
        pos = kay_strlen(base);
        if (pos >= sizeof work / sizeof work[0]) return pos + in_len + 2;
        std::memcpy(work, base, pos * sizeof(kchar));
    }
    if (pos + in_len + 2 >= sizeof work / sizeof work[0]) return pos + in_len + 2;
    work[pos++] = '/';
    std::memcpy(work + pos, in, (in_len + 1) * sizeof(kchar));

    // Resolve components in place into `result`.
    std::uint32_t r = 0;
    const kchar* p = work;
    while (*p != 0) {
        while (*p == '/') p++;
        if (*p == 0) break;
        const kchar* end = p;
        while (*end != 0 && *end != '/') end++;
        std::uint32_t len = static_cast<std::uint32_t>(end - p);
        if (len == 1 && p[0] == '.') {
        } else if (len == 2 && p[0] == '.' && p[1] == '.') {
            while (r > 0 && result[r - 1] != '/') r--;
            if (r > 0) r--;
        } else {
            result[r++] = '/';
            std::memcpy(result + r, p, len * sizeof(kchar));
            r += len;
        }
        p = end;
    }
    if (r == 0) result[r++] = '/';
    else if (in[in_len - 1] == '/') result[r++] = '/';
    result[r] = 0;
    if (r >= capacity) return r + 1;
    std::memcpy(out, result, (r + 1) * sizeof(kchar));
    return r;
}

void kay_lock_name(const kchar* folded_dir, kchar* out) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const kchar* p = folded_dir; *p != 0; p++) {
        kchar c = *p == '/' ? '\\' : *p;
        auto unit = static_cast<std::uint16_t>(static_cast<std::make_unsigned_t<kchar>>(c));
        hash = (hash ^ unit) * 0x100000001b3ull;
    }
    const char* prefix = "Local\\kay-unpack-";
    std::uint32_t n = 0;
    for (; prefix[n] != 0; n++) out[n] = static_cast<kchar>(prefix[n]);
    for (int shift = 60; shift >= 0; shift -= 4) out[n++] = static_cast<kchar>("0123456789abcdef"[(hash >> shift) & 15]);
    out[n] = 0;
}

static bool is_sep(kchar c) { return c == '\\' || c == '/'; }

const kchar* kay_system_path(const kchar* path, kchar* out) {
    std::uint32_t n = kay_strlen(path);
    if (n < KAY_LONG_PATH_FROM) return path;
    const char* prefix;
    std::uint32_t from;  // where the path's own text begins to be copied
    kchar letter = static_cast<kchar>(path[0] | 0x20);
    if (letter >= 'a' && letter <= 'z' && path[1] == ':' && is_sep(path[2])) {
        prefix = "\\\\?\\";
        from = 0;
    } else if (is_sep(path[0]) && is_sep(path[1]) && !is_sep(path[2]) && path[2] != '?' && path[2] != '.') {
        prefix = "\\\\?\\UNC\\";
        from = 2;
    } else {
        return path;
    }
    std::uint32_t len = 0;
    for (; prefix[len] != 0; len++) out[len] = static_cast<kchar>(prefix[len]);
    std::uint32_t name = len;  // where the current name begins
    for (std::uint32_t i = from; i <= n; i++) {
        if (i < n && !is_sep(path[i])) {
            out[len++] = path[i];
            continue;
        }
        if (i < n && len == name) continue;  // a run of separators
        if (i == n) {
            while (len > name && (out[len - 1] == '.' || out[len - 1] == ' ')) len--;
        } else if (len > name + 1 && out[len - 1] == '.') {
            len--;
        }
        if (i < n) out[len++] = '\\';
        name = len;
    }
    out[len] = 0;
    return out;
}
