// libdeflate's CRC-32, which the launcher and kay-pack use, against zlib's,
// which wrote the CRCs of existing payloads.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

static std::uint32_t zlib_crc(const unsigned char* p, std::size_t n) {
    return static_cast<std::uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}

TEST(Crc32, LibdeflateGivesZlibsValues) {
    EXPECT_EQ(libdeflate_crc32(0, "123456789", 9), 0xCBF43926u);
    std::vector<unsigned char> data((64 << 20) + 64);
    std::uint64_t x = 0x9E3779B97F4A7C15u;
    for (unsigned char& c : data) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        c = static_cast<unsigned char>(x >> 24);
    }
    // Every length up to 4096, starting at each alignment within 16 bytes.
    for (std::size_t n = 0; n <= 4096; n++) {
        const unsigned char* p = data.data() + (n * 7) % 16;
        ASSERT_EQ(libdeflate_crc32(0, p, n), zlib_crc(p, n)) << "length " << n;
    }
    // Large buffers, whole and continued from a running value.
    for (std::size_t n : {std::size_t{1} << 20, (std::size_t{1} << 20) + 13, std::size_t{64} << 20}) {
        const unsigned char* p = data.data() + n % 61;
        EXPECT_EQ(libdeflate_crc32(0, p, n), zlib_crc(p, n)) << "length " << n;
        EXPECT_EQ(libdeflate_crc32(libdeflate_crc32(0, p, n / 3), p + n / 3, n - n / 3), zlib_crc(p, n));
    }
}
