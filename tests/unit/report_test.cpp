// The system-error line: trimming of the system text and the code's format.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/report.h"

namespace {

const char* g_text;

std::uint32_t fake_error_text(std::uint32_t, char* out, std::uint32_t capacity) {
    if (g_text == nullptr) return 0;
    std::uint32_t n = static_cast<std::uint32_t>(std::strlen(g_text));
    if (n >= capacity) n = capacity - 1;
    std::memcpy(out, g_text, n);
    out[n] = 0;
    return n;
}

std::string line_for(const char* text, std::uint32_t code) {
    g_text = text;
    testing::internal::CaptureStderr();
    system_error("Error, couldn't unpack file to target path.", code, fake_error_text);
    return testing::internal::GetCapturedStderr();
}

TEST(SystemError, LineFormatKeepsPeriodAndDropsOnlyTrailingLineEnds) {
    EXPECT_EQ(line_for("There is not enough space on the disk.\r\n", 112),
              "Error, couldn't unpack file to target path. ([Error 112] There is not enough space on the disk.)\n");
    EXPECT_EQ(line_for("\r\n\r\n", 5), "Error, couldn't unpack file to target path. ([Error 5] )\n");
    EXPECT_EQ(line_for("first\r\nsecond \n", 7),
              "Error, couldn't unpack file to target path. ([Error 7] first\r\nsecond )\n");
}

TEST(SystemError, CodeWithTopBitIsNegativeAndMissingTextIsEmpty) {
    EXPECT_EQ(line_for("Access denied.", 0x80070005u),
              "Error, couldn't unpack file to target path. ([Error -2147024891] Access denied.)\n");
    EXPECT_EQ(line_for(nullptr, 1234), "Error, couldn't unpack file to target path. ([Error 1234] )\n");
}

}  // namespace
