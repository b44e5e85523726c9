// The tokens of a path specification, named in braces and matched without
// regard to case: the expander's table, which kay-pack also uses to see
// which constants a specification names.
#pragma once

enum kay_token {
    TOKEN_TEMP, TOKEN_PROGRAM, TOKEN_PROGRAM_BASE, TOKEN_PROGRAM_DIR, TOKEN_PID,
    TOKEN_HOME, TOKEN_CACHE_DIR, TOKEN_COMPANY, TOKEN_PRODUCT, TOKEN_VERSION,
    TOKEN_FILE_VERSION, TOKEN_PRODUCT_VERSION, TOKEN_RANDOM, TOKEN_TIME_US, TOKEN_TIME,
    TOKEN_COUNT
};

// Upper case, without the braces.
inline constexpr const char* TOKEN_NAMES[TOKEN_COUNT] = {
    "TEMP", "PROGRAM", "PROGRAM_BASE", "PROGRAM_DIR", "PID",
    "HOME", "CACHE_DIR", "COMPANY", "PRODUCT", "VERSION",
    "FILE_VERSION", "PRODUCT_VERSION", "RANDOM", "TIME_US", "TIME"};

// The environment variable that, set to an absolute path, is the value of
// {CACHE_DIR} in place of the user's cache folder (for machines where that
// folder is not writable or may not run programs).
#define KAY_VAR_CACHE_DIR "KAY_CACHE_DIR"
