// An .ico file as resources: each image as RT_ICON, and the directory, with
// resource ids in place of file offsets, as RT_GROUP_ICON.
#include "fail.h"
#include "format/format.h"
#include "pe_resources.h"

void icon_resources(std::vector<Resource>& out, const std::string& ico, const std::string& path) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(ico.data());
    if (ico.size() < 6 || get_le(p, 2) != 0 || get_le(p + 2, 2) != 1 || get_le(p + 4, 2) == 0)
        fail("icon " + quoted(path) + ": not an .ico file");
    std::uint64_t count = get_le(p + 4, 2);
    if (6 + 16 * count > ico.size()) fail("icon " + quoted(path) + ": truncated image directory");
    std::string group;
    put_le(group, 0, 2);
    put_le(group, 1, 2);
    put_le(group, count, 2);
    for (std::uint16_t i = 0; i < count; i++) {
        const unsigned char* entry = p + 6 + 16 * i;
        std::uint64_t size = get_le(entry + 8, 4), offset = get_le(entry + 12, 4);
        if (size == 0 || offset + size > ico.size())
            fail("icon " + quoted(path) + ": image " + std::to_string(i + 1) + " lies outside the file");
        out.push_back({RT_ICON_ID, static_cast<std::uint16_t>(i + 1), ico.substr(offset, size)});
        group.append(reinterpret_cast<const char*>(entry), 12);  // size, colours, planes, bits, bytes
        put_le(group, i + 1, 2);
    }
    out.push_back({RT_GROUP_ICON_ID, 1, group});
}
