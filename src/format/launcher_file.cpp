#include "format/launcher_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "format/data_block.h"

kay_launcher_kind launcher_kind(const unsigned char* data, std::size_t size) {
    if (size >= sizeof KAY_ELF_MAGIC && std::memcmp(data, KAY_ELF_MAGIC, sizeof KAY_ELF_MAGIC) == 0)
        return KAY_LINUX_LAUNCHER;
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') return KAY_WINDOWS_LAUNCHER;
    return KAY_NOT_A_LAUNCHER;
}

std::uint32_t pe_subsystem(const unsigned char* data, std::size_t size) {
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return 0;
    std::size_t pe = data[0x3C] | data[0x3D] << 8 | data[0x3E] << 16 | static_cast<std::size_t>(data[0x3F]) << 24;
    // The field lies 68 bytes into the optional header, in PE32 and PE32+.
    std::size_t at = pe + 24 + 68;
    if (pe > size || at + 2 > size || std::memcmp(data + pe, "PE\0\0", 4) != 0) return 0;
    return data[at] | data[at + 1] << 8;
}

std::string launcher_version(const unsigned char* data, std::size_t size) {
    const std::string_view mark = KAY_PROGRAM_MARK;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first mark followed by a version (the program's own comes before
    // any payload).
    for (std::size_t at = bytes.find(mark); at != std::string_view::npos; at = bytes.find(mark, at + 1)) {
        std::size_t from = at + mark.size(), end = from;
        while (end < size && end - from < 32 && bytes[end] > ' ' && bytes[end] < 0x7f) end++;
        if (end > from) return std::string(bytes.substr(from, end - from));
    }
    return "";
}

bool elf_aarch64(const unsigned char* data, std::size_t size) {
    return size >= 20 && data[5] == 1 && data[18] == 183 && data[19] == 0;
}

const char* launcher_kind_name(const unsigned char* data, std::size_t size) {
    switch (launcher_kind(data, size)) {
    case KAY_LINUX_LAUNCHER: return elf_aarch64(data, size) ? "Linux arm64 launcher" : "Linux launcher";
    case KAY_WINDOWS_LAUNCHER:
        return pe_subsystem(data, size) == PE_SUBSYSTEM_GUI ? "Windows GUI launcher" : "Windows launcher";
    default: return nullptr;
    }
}

bool launcher_block_bytes(kay_launcher_kind kind, const unsigned char** data, std::size_t* size) {
    if (kind != KAY_WINDOWS_LAUNCHER) return true;
    std::size_t offset = 0, length = 0;
    if (!pe_find_section(*data, *size, KAY_SECTION_NAME, &offset, &length)) return false;
    *data += offset;
    *size = length;
    return true;
}

bool pe_find_section(const unsigned char* data, std::size_t size, const char* name, std::size_t* offset,
                     std::size_t* length) {
    auto get_at = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | data[at + i];
        return v;
    };
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
    std::size_t pe = get_at(0x3C, 4);
    if (pe > size - 24 || std::memcmp(data + pe, "PE\0\0", 4) != 0) return false;
    std::size_t table = pe + 24 + get_at(pe + 20, 2);
    std::uint32_t count = get_at(pe + 6, 2);
    if (table + std::uint64_t{count} * PE_SECTION_HEADER_SIZE > size) return false;
    char wanted[8] = {};
    std::memcpy(wanted, name, std::min<std::size_t>(std::strlen(name), 8));
    for (std::uint32_t i = 0; i < count; i++) {
        std::size_t s = table + i * PE_SECTION_HEADER_SIZE;
        if (std::memcmp(data + s, wanted, 8) != 0) continue;
        std::uint64_t raw = get_at(s + 20, 4), raw_size = get_at(s + 16, 4), virtual_size = get_at(s + 8, 4);
        if (raw + raw_size > size || virtual_size > raw_size) return false;
        *offset = static_cast<std::size_t>(raw);
        *length = static_cast<std::size_t>(virtual_size);
        return true;
    }
    return false;
}
