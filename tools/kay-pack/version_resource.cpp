// VS_VERSION_INFO: nested blocks of length, value length, type (1 text, 0
// binary), a UTF-16 key, then the value and the children, each on a 32-bit
// boundary.
#include <algorithm>
#include <cctype>

#include "fail.h"
#include "format/format.h"
#include "names.h"
#include "pe_resources.h"

namespace {

struct Block {
    std::string key;
    std::string value;  // bytes
    std::uint16_t value_length = 0;
    bool text = false;
    std::vector<Block> children;
};

void pad(std::string& out) { out.resize((out.size() + 3) / 4 * 4, '\0'); }

std::string utf16z(const std::string& utf8) {
    std::u16string units;
    if (!utf8_to_utf16(utf8, units)) fail("version text " + quoted(utf8) + " is not valid UTF-8");
    std::string out;
    for (char16_t u : units) put_le(out, u, 2);
    put_le(out, 0, 2);
    return out;
}

void write(std::string& out, const Block& block) {
    std::size_t start = out.size();
    put_le(out, 0, 2);
    put_le(out, block.value_length, 2);
    put_le(out, block.text ? 1 : 0, 2);
    out += utf16z(block.key);
    pad(out);
    out += block.value;
    for (const Block& child : block.children) {
        pad(out);
        write(out, child);
    }
    std::size_t length = out.size() - start;
    if (length > 0xFFFF) fail("version texts too long for the version resource");
    out[start] = static_cast<char>(length & 0xFF);
    out[start + 1] = static_cast<char>(length >> 8);
}

Block text(const std::string& key, const std::string& value) {
    std::string units = utf16z(value);
    return {key, units, static_cast<std::uint16_t>(units.size() / 2), true, {}};
}

// "1.2.3.4" (fewer parts, or text after the numbers, too): the first four
// runs of digits, missing ones 0; a run above 65535 counts as 65536.
void version_parts(const std::string& version, std::uint32_t parts[4]) {
    int n = 0;
    for (std::size_t i = 0; i < version.size() && n < 4;) {
        if (!std::isdigit(static_cast<unsigned char>(version[i]))) {
            i++;
            continue;
        }
        std::uint32_t v = 0;
        for (; i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])); i++)
            v = std::min<std::uint32_t>(v * 10 + static_cast<std::uint32_t>(version[i] - '0'), 0x10000);
        parts[n++] = v;
    }
}

// The version as two 32-bit halves of 16-bit fields.
void version_numbers(const std::string& version, std::string& out) {
    std::uint32_t parts[4] = {0, 0, 0, 0};
    version_parts(version, parts);
    put_le(out, parts[0] << 16 | parts[1], 4);
    put_le(out, parts[2] << 16 | parts[3], 4);
}

}  // namespace

std::string version_resource(const VersionTexts& t) {
    std::string fixed;
    put_le(fixed, 0xFEEF04BDu, 4);  // signature
    put_le(fixed, 0x00010000u, 4);  // structure version
    version_numbers(t.file_version, fixed);
    version_numbers(t.product_version, fixed);
    put_le(fixed, 0x3F, 4);          // flags mask
    put_le(fixed, 0, 4);             // flags
    put_le(fixed, 0x00040004u, 4);   // VOS_NT_WINDOWS32
    put_le(fixed, 1, 4);             // VFT_APP
    put_le(fixed, 0, 4);             // subtype
    put_le(fixed, 0, 8);             // date

    Block table{"040904B0", "", 0, true, {}};
    table.children = {text("CompanyName", t.company),       text("FileDescription", t.description),
                      text("FileVersion", t.file_version),  text("InternalName", t.file_name),
                      text("OriginalFilename", t.file_name), text("ProductName", t.product),
                      text("ProductVersion", t.product_version)};
    std::string translation;
    put_le(translation, LANGUAGE_EN_US, 2);
    put_le(translation, 1200, 2);  // UTF-16
    Block root{"VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), false, {}};
    root.children = {Block{"StringFileInfo", "", 0, true, {table}},
                     Block{"VarFileInfo", "", 0, true, {Block{"Translation", translation, 4, false, {}}}}};
    std::string out;
    write(out, root);
    return out;
}

void check_version_fields(const std::string& option, const std::string& version) {
    std::uint32_t parts[4] = {0, 0, 0, 0};
    version_parts(version, parts);
    for (std::uint32_t part : parts)
        if (part > 0xFFFF)
            fail_usage("option " + option + " " + quoted(version) +
                       ": a Windows version holds numbers from 0 to 65535 in each of its four fields");
}
