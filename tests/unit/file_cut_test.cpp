// A file cut short by another process while its checksum is taken counts
// as no usable file (so it is written again), however much was read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "payload/unpack.h"
#include "platform/platform.h"

namespace {

std::string g_victim;
long g_cut_to;

std::uint32_t cut_then_read(kay_file file, void* buffer, std::uint32_t capacity) {
    if (truncate(g_victim.c_str(), g_cut_to) != 0) std::perror("truncate");
    return kay_sys_default.read_file(file, buffer, capacity);
}

TEST(FileCrc, FileCutShortWhileReadIsNoUsableFile) {
    char dir[] = "/tmp/kay-cut-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    g_victim = std::string(dir) + "/victim.bin";
    // Larger than the buffer, so the cut falls between two reads too.
    std::string content(100000, 'k');
    for (long cut : {0L, 1L, 50000L, 99999L}) {
        FILE* f = std::fopen(g_victim.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        ASSERT_NE(kay_unpack::file_check_value(g_victim.c_str(), content.size()), 0u);
        g_cut_to = cut;
        kay_sys.read_file = cut_then_read;
        EXPECT_EQ(kay_unpack::file_check_value(g_victim.c_str(), content.size()), 0u) << cut;
        kay_sys_restore_all();
    }
    unlink(g_victim.c_str());
    rmdir(dir);
}

}  // namespace
