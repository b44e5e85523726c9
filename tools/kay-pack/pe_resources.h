// The resources of a Windows launcher, written as a .rsrc section without
// a resource compiler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint16_t RT_ICON_ID = 3;
constexpr std::uint16_t RT_GROUP_ICON_ID = 14;
constexpr std::uint16_t RT_VERSION_ID = 16;
constexpr std::uint16_t RT_MANIFEST_ID = 24;
constexpr std::uint16_t LANGUAGE_EN_US = 0x409;

struct Resource {
    std::uint16_t type;
    std::uint16_t id;
    std::string data;
};

// The section content: the three-level directory (type, id, language
// 0x409), the data entries (addresses relative to the image, so the
// section's address `rva` is needed) and the data.
std::string resource_section(std::vector<Resource> resources, std::uint32_t rva);

// The texts of the version resource, UTF-8.
struct VersionTexts {
    std::string company, description, file_version, product, product_version;
    std::string file_name;  // InternalName and OriginalFilename
};

// A VS_VERSION_INFO block (RT_VERSION id 1): fixed numbers from the first
// four digit runs of the file and product versions, the texts in the
// 040904B0 string table, and the translation 0x409/1200.
std::string version_resource(const VersionTexts& texts);
// Fails, naming `option`, when a field of `version` does not fit the
// resource's 16 bits (it would wrap).
void check_version_fields(const std::string& option, const std::string& version);

// RT_ICON (ids 1..n) and RT_GROUP_ICON (id 1) resources from the bytes of
// an .ico file; fails naming `path` when it is not one.
void icon_resources(std::vector<Resource>& out, const std::string& ico, const std::string& path);

// The application manifest (RT_MANIFEST id 1): runs as the invoker,
// supports Windows 7 to 11, long paths.
extern const char LAUNCHER_MANIFEST[];
