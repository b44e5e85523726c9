// The prebuilt launcher's data block on Windows: the content of the ".kay"
// section, found through the loaded image, so it is part of what an
// Authenticode signature covers.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "platform/win32/win32_internal.h"

// The section found below; release_data_block touches nothing else.
static const unsigned char* g_section;
static std::size_t g_section_size;

namespace kay_win32 {

bool locate_data_block(const unsigned char** data, std::size_t* size) {
    const unsigned char* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    if (base == nullptr) return false;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
        if (std::memcmp(section->Name, ".kay\0\0\0\0", IMAGE_SIZEOF_SHORT_NAME) != 0) continue;
        *data = g_section = base + section->VirtualAddress;
        *size = g_section_size = section->Misc.VirtualSize;
        return true;
    }
    // No section: the reader finds no block in nothing.
    *data = base;
    *size = 0;
    return true;
}

void release_data_block(const unsigned char* from, std::size_t size) {
    if (g_section == nullptr || from < g_section ||
        size > g_section_size - static_cast<std::size_t>(from - g_section))
        return;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    std::uintptr_t page = info.dwPageSize;
    std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(from) + page - 1) & ~(page - 1);
    std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(from) + size) & ~(page - 1);
    if (start >= end) return;
    // Unlocking pages that were never locked takes them out of the working
    // set; the call then reports ERROR_NOT_LOCKED, which is the point.
    DWORD saved = GetLastError();
    VirtualUnlock(reinterpret_cast<void*>(start), end - start);
    SetLastError(saved);
}

}  // namespace kay_win32
