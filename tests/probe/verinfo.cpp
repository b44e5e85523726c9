// Prints a Windows executable's version resource as the system reads it
// (the values the file's properties show): one "Key=Value" line each, and
// the application manifest when it has one.
#include <windows.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(argv[1], &handle);
    if (size == 0) {
        std::printf("no version resource\n");
        return 1;
    }
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(argv[1], 0, size, data.data())) return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed != nullptr) {
        std::printf("FileVersionNumber=%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        std::printf("ProductVersionNumber=%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwProductVersionMS),
                    LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                    LOWORD(fixed->dwProductVersionLS));
    }
    const wchar_t* keys[] = {L"CompanyName", L"ProductName", L"FileVersion", L"ProductVersion",
                             L"FileDescription", L"OriginalFilename"};
    for (const wchar_t* key : keys) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\040904B0\\%ls", key);
        wchar_t* value = nullptr;
        if (VerQueryValueW(data.data(), query, reinterpret_cast<void**>(&value), &len) && value != nullptr)
            std::printf("%ls=%ls\n", key, value);
    }
    HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    bool icon = module != nullptr && FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */) != nullptr;
    std::printf("Icon=%s\n", icon ? "yes" : "no");
    // The application manifest, when there is one, on one line.
    HRSRC manifest = module == nullptr ? nullptr : FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    if (manifest != nullptr) {
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
        std::printf("Manifest=");
        for (DWORD i = 0; text != nullptr && i < SizeofResource(module, manifest); i++)
            if (text[i] != '\r' && text[i] != '\n') std::putchar(text[i]);
        std::printf("\n");
    }
    return 0;
}
