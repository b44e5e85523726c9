// A file cut short by another process while its checksum is taken: the
// check sees other content (so the file will be rewritten) instead of the
// launcher dying by SIGBUS.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "payload/unpack.h"
#include "platform/platform.h"

namespace {

std::string g_victim;

const void* view_then_truncate(kay_mapping mapping) {
    const void* view = kay_sys_default.map_view(mapping);
    if (truncate(g_victim.c_str(), 0) != 0) std::perror("truncate");
    return view;
}

TEST(FileCrc, FileCutShortWhileMappedReadsAsZerosNotACrash) {
    char dir[] = "/tmp/kay-map-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    g_victim = std::string(dir) + "/victim.bin";
    std::string content(3 * 4096 + 100, 'k');
    FILE* f = std::fopen(g_victim.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);

    std::string zeros(content.size(), '\0');
    auto crc_of = [](const std::string& s) {
        return static_cast<std::uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
    };
    ASSERT_EQ(entry_disk_value(g_victim.c_str(), content.size()), crc_of(content));

    kay_sys.map_view = view_then_truncate;
    std::uint32_t seen = entry_disk_value(g_victim.c_str(), content.size());
    kay_sys = kay_sys_default;
    EXPECT_EQ(seen, crc_of(zeros));
    EXPECT_NE(seen, crc_of(content));

    unlink(g_victim.c_str());
    rmdir(dir);
}

}  // namespace
