#include "payload_builder.h"

#include <algorithm>

#include "format/format.h"

std::uint32_t crc32_of(const std::string& data) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : data) {
        c ^= b;
        for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

std::string name_units(const std::u16string& name) {
    std::string out;
    for (char16_t unit : name) put_le(out, unit, 2);
    put_le(out, 0, 2);
    return out;
}

std::string entry_fields(const std::string& content, std::uint32_t crc) {
    std::string out;
    put_le(out, content.size(), 8);
    put_le(out, crc, 4);
    return out + content;
}

std::string entry(const std::u16string& name, const std::string& content) {
    return entry(name, content, stored_crc(crc32_of(content)));
}

std::string entry(const std::u16string& name, const std::string& content, std::uint32_t crc) {
    return name_units(name) + entry_fields(content, crc);
}

std::string raw_frame(const std::string& content, unsigned char window_descriptor) {
    std::string f = "\x28\xB5\x2F\xFD";
    f += '\0';
    f += static_cast<char>(window_descriptor);
    std::size_t pos = 0;
    do {
        std::size_t n = std::min<std::size_t>(100000, content.size() - pos);
        bool last = pos + n == content.size();
        put_le(f, (last ? 1u : 0u) | (n << 3), 3);
        f += content.substr(pos, n);
        pos += n;
    } while (pos < content.size());
    return f;
}

std::string attached_payload(const std::string& frame) {
    std::string p(reinterpret_cast<const char*>(KAY_MAGIC), sizeof KAY_MAGIC);
    p += frame;
    put_le(p, 0, 2);
    put_le(p, p.size(), 8);
    return p;
}
