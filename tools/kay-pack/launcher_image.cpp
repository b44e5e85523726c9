#include "launcher_image.h"

#include "fail.h"
#include "format/launcher_file.h"
#include "launcher_block.h"
#include "pe_image.h"

std::string elf_launcher(std::string program, const std::string& block, const std::string& what, bool arm64) {
    if (program.compare(0, sizeof KAY_ELF_MAGIC, reinterpret_cast<const char*>(KAY_ELF_MAGIC), sizeof KAY_ELF_MAGIC) != 0) fail(quoted(what) + ": not an ELF program");
    if (arm64 && !elf_aarch64(reinterpret_cast<const unsigned char*>(program.data()), program.size()))
        fail(quoted(what) + ": not a 64-bit ARM program");
    return program + block;
}

std::string pe_launcher(std::string program, const std::string& block, const std::string& what,
                        const VersionTexts& version, const std::string& icon_path) {
    PeImage image = pe_open(std::move(program), what);
    std::vector<Resource> resources{{RT_VERSION_ID, 1, version_resource(version)},
                                    {RT_MANIFEST_ID, 1, LAUNCHER_MANIFEST}};
    if (!icon_path.empty()) icon_resources(resources, read_whole_file(icon_path, "icon"), icon_path);
    std::uint32_t rva = pe_next_rva(image);
    std::string rsrc = resource_section(resources, rva);
    pe_add_section(image, ".rsrc", rsrc);
    pe_set_directory(image, 2, rva, static_cast<std::uint32_t>(rsrc.size()));
    pe_add_section(image, KAY_SECTION_NAME, block);
    pe_finish(image);
    return std::move(image.bytes);
}
