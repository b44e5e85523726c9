// Native text: UTF-16 (wchar_t) on Windows, UTF-8 (char) elsewhere.
#pragma once

#if defined(_WIN32)
#define KAY_WINDOWS 1
typedef wchar_t kchar;
#define KT(s) L##s
#define KAY_SEP L'\\'
#define KAY_SEP_STR L"\\"
// printf conversion of native text.
#define KAY_PRI_S "%ls"
#else
#define KAY_WINDOWS 0
typedef char kchar;
#define KT(s) s
#define KAY_SEP '/'
#define KAY_SEP_STR "/"
#define KAY_PRI_S "%s"
#endif

// A separator of folders in a path: Windows takes '/' as well as '\\'.
inline bool kay_is_sep(kchar c) { return c == KAY_SEP || c == '/'; }
