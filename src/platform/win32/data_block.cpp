// The prebuilt launcher's data block on Windows: the content of the ".kay"
// section, found through the loaded image, so it is part of what an
// Authenticode signature covers.
#include <windows.h>

#include <cstring>

#include "platform/data_block.h"

bool kay_locate_data_block(const unsigned char** data, std::size_t* size) {
    const unsigned char* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    if (base == nullptr) return false;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
        if (std::memcmp(section->Name, ".kay\0\0\0\0", IMAGE_SIZEOF_SHORT_NAME) != 0) continue;
        *data = base + section->VirtualAddress;
        *size = section->Misc.VirtualSize;
        return true;
    }
    return false;
}
