#include "pathspec/expand.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/bounded.h"
#include "common/native_text.h"
#include "common/report.h"
#include "format/format.h"
#include "format/handover_names.h"
#include "format/launch_data.h"
#include "format/tokens.h"
#include "pathspec/token_values.h"
#include "platform/env_value.h"

constexpr std::uint32_t TOKEN_NAME_CAPACITY = 1024;
constexpr std::uint32_t FOLDER_CAPACITY = 260;

static kchar ascii_upper(kchar c) { return (c >= 'a' && c <= 'z') ? static_cast<kchar>(c - 32) : c; }

// Case-blind comparison of a collected name with an ASCII token name.
static bool token_equals(const kchar* name, const char* token) {
    for (; *name != 0 && *token != 0; name++, token++) {
        if (ascii_upper(*name) != static_cast<kchar>(*token)) return false;
    }
    return *name == 0 && *token == 0;
}

static bool ends_with_exe(const kchar* s, std::uint32_t len) {
    if (len <= 3) return false;
    const char* ext = ".EXE";
    for (int i = 0; i < 4; i++) {
        if (ascii_upper(s[len - 4 + i]) != static_cast<kchar>(ext[i])) return false;
    }
    return true;
}

// Appends a token's value; a character without room is an abnormal end.
static void append_value(kchar* out, std::uint32_t capacity, const kchar* value) {
    buf_append(out, capacity, value);
}

// After TEMP, HOME and CACHE_DIR: drop every trailing separator of the output.
static void drop_trailing_separators(kchar* out) {
    std::uint32_t len = kay_strlen(out);
    while (len > 0 && out[len - 1] == KAY_SEP) out[--len] = 0;
}

// An absolute path of this system: "/..." on POSIX; "X:\...", "X:/..." or
// "\\server\..." on Windows, where "\x" and "X:x" depend on the current drive
// or folder.
static bool is_absolute(const kchar* s) {
    if (KAY_SEP == '/') return s[0] == '/';
    kchar letter = static_cast<kchar>(s[0] | 0x20);
    return (letter >= 'a' && letter <= 'z' && s[1] == ':' && kay_is_sep(s[2])) || (kay_is_sep(s[0]) && kay_is_sep(s[1]));
}

static bool append_folder(kchar* out, std::uint32_t capacity, kay_folder which) {
    // KAY_CACHE_DIR, when absolute, is the cache folder; a relative one
    // would move with the current folder, so it counts as unset.
    kchar* chosen = which == KAY_FOLDER_CACHE ? get_env_value(KAY_VAR_CACHE_DIR) : nullptr;
    bool given = chosen != nullptr && is_absolute(chosen);
    if (given) append_value(out, capacity, chosen);
    std::free(chosen);
    if (given) {
        drop_trailing_separators(out);
        return true;
    }
    static kchar folder[2][FOLDER_CAPACITY];
    kchar* buffer = folder[which == KAY_FOLDER_HOME ? 0 : 1];
    buffer[0] = 0;
    if (!kay_sys.user_folder(which, buffer, FOLDER_CAPACITY)) return false;
    buffer[FOLDER_CAPACITY - 1] = 0;
    append_value(out, capacity, buffer);
    drop_trailing_separators(out);
    return true;
}

// Appends a value shared through the environment: the inherited one when
// set, else a fresh one that is stored for later expansions and children.
static void append_shared(kchar* out, std::uint32_t capacity, const char* variable,
                          const kchar* fresh) {
    kchar* value = get_env_value(variable);
    if (value != nullptr) {
        append_value(out, capacity, value);
        std::free(value);
        return;
    }
    set_env_value(variable, fresh);
    append_value(out, capacity, fresh);
}

static bool append_token(const kay_launch_context& run, kchar* out, std::uint32_t capacity, int which) {
    std::uint32_t len = kay_strlen(out);
    std::uint32_t remaining = capacity - len;
    switch (which) {
    case TOKEN_TEMP: {
        std::uint32_t n = kay_sys.temp_path(out + len, remaining);
        // Nothing is contributed when the folder is unknown or does not fit.
        if (n == 0 || n >= remaining) out[len] = 0;
        else out[len + n] = 0;
        drop_trailing_separators(out);
        return true;
    }
    case TOKEN_PROGRAM: {
        if (run.own_path.length == 0) return false;
        // A path cut short by the room stays in its shortened form.
        std::uint32_t n = kay_strlen(run.own_path.text);
        if (n >= remaining) n = remaining - 1;
        std::memcpy(out + len, run.own_path.text, n * sizeof(kchar));
        out[len + n] = 0;
        return true;
    }
    case TOKEN_PROGRAM_BASE:
    case TOKEN_PROGRAM_DIR: {
        if (!expand_path_spec(run, out + len, KT("{PROGRAM}"), static_cast<std::int32_t>(remaining)))
            return false;
        kchar* value = out + len;
        std::uint32_t n = kay_strlen(value);
        if (which == TOKEN_PROGRAM_BASE) {
            if (ends_with_exe(value, n)) value[n - 4] = 0;
        } else {
            while (n > 0 && value[n - 1] != KAY_SEP) n--;
            if (n > 0) value[n - 1] = 0;
        }
        return true;
    }
    case TOKEN_PID: {
        kchar* value = get_env_value(KAY_VAR_PARENT);
        if (value != nullptr) {
            for (kchar* p = value; *p != 0; p++) {
                if (!kay_is_digit(*p)) kay_abort();
            }
            append_value(out, capacity, value);
            std::free(value);
        } else {
            char narrow[128];
            std::snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(kay_sys.current_pid()));
            kchar wide[128];
            widen(wide, 128, narrow);
            append_value(out, capacity, wide);
        }
        return true;
    }
    case TOKEN_HOME: return append_folder(out, capacity, KAY_FOLDER_HOME);
    case TOKEN_CACHE_DIR: return append_folder(out, capacity, KAY_FOLDER_CACHE);
    case TOKEN_COMPANY: append_value(out, capacity, run.data.company); return true;
    case TOKEN_PRODUCT: append_value(out, capacity, run.data.product); return true;
    case TOKEN_VERSION: append_value(out, capacity, run.data.version); return true;
    case TOKEN_FILE_VERSION: append_value(out, capacity, run.data.file_version); return true;
    case TOKEN_PRODUCT_VERSION: append_value(out, capacity, run.data.product_version); return true;
    case TOKEN_RANDOM: {
        std::uint64_t counter = kay_sys.perf_counter();
        // The address of a local mixes in where the stack happens to lie.
        std::uint32_t seed = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&counter)) ^
                             static_cast<std::uint32_t>(counter >> 32) ^
                             static_cast<std::uint32_t>(counter) ^ kay_sys.current_pid();
        kchar word[12];
        random_word(seed, word);
        append_shared(out, capacity, KAY_VAR_RANDOM, word);
        return true;
    }
    case TOKEN_TIME_US: {
        kchar text[8];
        format_time_us(kay_sys.system_time(), text);
        append_shared(out, capacity, KAY_VAR_TIME_US, text);
        return true;
    }
    case TOKEN_TIME: {
        kchar text[24];
        format_time(kay_sys.system_time(), text);
        append_shared(out, capacity, KAY_VAR_START, text);
        return true;
    }
    }
    return false;
}

bool expand_path_spec(const kay_launch_context& run, kchar* out, const kchar* spec, std::int32_t capacity_signed) {
    std::uint32_t capacity = static_cast<std::uint32_t>(capacity_signed);
    if (capacity == 0) return false;
    kchar name[TOKEN_NAME_CAPACITY];
    std::uint32_t name_len = 0;
    bool in_token = false;
    bool name_overflow = false;
    out[0] = 0;
    std::uint32_t len = 0;
    for (; *spec != 0; spec++) {
        kchar c = *spec;
        if (c == '{') {
            in_token = true;
            name_len = 0;
            name_overflow = false;
        } else if (c == '}' && in_token) {
            in_token = false;
            name[name_len] = 0;
            // A name too long for the buffer cannot be a token.
            if (name_overflow) return false;
            int which = -1;
            for (int t = 0; t < TOKEN_COUNT; t++) {
                if (token_equals(name, TOKEN_NAMES[t])) {
                    which = t;
                    break;
                }
            }
            if (which < 0) return false;
            if (!append_token(run, out, capacity, which)) return false;
            len = kay_strlen(out);
        } else if (in_token) {
            if (name_len + 1 < TOKEN_NAME_CAPACITY) name[name_len++] = c;
            else name_overflow = true;
        } else {
            // Literal text, a closing brace outside a token included.
            if (len + 1 >= capacity) return false;
            out[len++] = c;
            out[len] = 0;
        }
    }
    return true;
}

void canonicalise_target_dir(kchar* dir) {
    static kchar full[KAY_PATH_CAPACITY];
    std::uint32_t n = kay_sys.full_path(dir, full, KAY_PATH_CAPACITY);
    if (n == 0 || n >= KAY_PATH_CAPACITY) kay_abort();
    full[n] = 0;
    buf_copy(dir, KAY_PATH_CAPACITY, full);
}
