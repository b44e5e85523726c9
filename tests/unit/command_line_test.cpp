// The child's command line: each argument is quoted so that the Windows
// splitting rules give it back, checked against a splitter written from
// those rules, with exact texts for the hard cases and the size limit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "common/bounded.h"

namespace {

// Native text from UTF-8 and back (the same on POSIX, UTF-16 on Windows).
std::basic_string<kchar> native(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end())).native();
}
std::string utf8(const kchar* s) {
    std::u8string u = std::filesystem::path(s).u8string();
    return std::string(u.begin(), u.end());
}

// The documented splitting rules (as CommandLineToArgvW applies them to
// every argument after the program name): blanks and tabs outside quotes
// separate; 2n backslashes and a quote give n backslashes and toggle
// quoting; 2n+1 backslashes and a quote give n backslashes and a literal
// quote; backslashes not before a quote are literal.
std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
        if (i == line.size()) return out;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            size_t n = 0;
            while (i < line.size() && line[i] == '\\') {
                n++;
                i++;
            }
            if (i < line.size() && line[i] == '"') {
                arg.append(n / 2, '\\');
                if (n % 2 == 1) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                i++;
            } else if (n > 0) {
                arg.append(n, '\\');
            } else {
                arg += line[i++];
            }
        }
        out.push_back(arg);
    }
}

std::string quoted(const std::string& argument) {
    std::vector<kchar> line(KAY_COMMAND_LINE_CAPACITY, 0);
    append_argument_to(line.data(), KAY_COMMAND_LINE_CAPACITY, native(argument).c_str());
    return utf8(line.data());
}

struct Case {
    std::string argument;
    std::string expected;
};

// Hard cases with the exact text each must become.
const Case CASES[] = {
    {"plain", "plain"},
    {R"(C:\dir\file)", R"(C:\dir\file)"},
    {R"(trailing\)", R"(trailing\)"},
    {R"(C:\My Dir\)", R"("C:\My Dir\\")"},
    {R"(a"b)", R"("a\"b")"},
    {R"(a\"b)", R"("a\\\"b")"},
    {R"(a\\"b)", R"("a\\\\\"b")"},
    {R"(C:\a b\c)", R"("C:\a b\c")"},
    {R"(C:\a b\\c\\)", R"("C:\a b\\c\\\\")"},
    {"\t", "\"\t\""},
    {"\n", "\"\n\""},
    {"\v", "\"\v\""},
    {"a\nb", "\"a\nb\""},
    {"a\vb", "\"a\vb\""},
    {" ", "\" \""},
    {"  two  blanks  ", "\"  two  blanks  \""},
    {"\"", R"("\"")"},
    {"\"\"", R"("\"\"")"},
    {R"(\")", R"("\\\"")"},
    {R"("quoted")", R"("\"quoted\"")"},
    {R"(a b\\\)", R"("a b\\\\\\")"},
    {R"(\\server\share dir\)", R"("\\server\share dir\\")"},
    {"\xc3\xa9t\xc3\xa9 x", "\"\xc3\xa9t\xc3\xa9 x\""},
};

TEST(CommandLine, HardCasesHaveExactTextsAndSplitBack) {
    for (const Case& c : CASES) {
        std::string text = quoted(c.argument);
        EXPECT_EQ(text, c.expected) << "argument: " << c.argument;
        EXPECT_EQ(split(text), std::vector<std::string>{c.argument}) << "argument: " << c.argument;
    }
}

TEST(CommandLine, ArgumentsJoinedByBlanksSplitBackWithoutTheEmptyOnes) {
    std::vector<std::string> args{"", "first"};
    for (const Case& c : CASES) args.push_back(c.argument);
    args.insert(args.end(), {"", "", R"(end\)", ""});
    std::vector<kchar> line(KAY_COMMAND_LINE_CAPACITY, 0);
    std::vector<std::string> kept;
    for (size_t i = 0; i < args.size(); i++) {
        if (i > 0) buf_append_char(line.data(), KAY_COMMAND_LINE_CAPACITY, ' ');
        append_argument_to(line.data(), KAY_COMMAND_LINE_CAPACITY, native(args[i]).c_str());
        if (!args[i].empty()) kept.push_back(args[i]);
    }
    EXPECT_EQ(split(utf8(line.data())), kept);
    // An empty argument leaves its blanks: two in a row, one at the end.
    std::string text = utf8(line.data());
    EXPECT_EQ(text.substr(0, 7), " first ");
    EXPECT_EQ(text.substr(text.size() - 10), R"(x"   end\ )");
}

// The launcher's own line passed on with only its first argument replaced
// (a quoted one ends at the next quote, no escapes): own line, child's line.
const std::pair<std::string, std::string> PASSED_ON[] = {
    {R"(l.exe """" x)", R"(p """" x)"},      {R"(l.exe a "" b)", R"(p a "" b)"},
    {"\"C:\\a b\\l\"  two\tblanks ", "p  two\tblanks "}, {R"("C:\a b\l.exe"x y)", "p x y"},
    {R"("a\"b c)", "p b c"},                 {"\"unclosed first", "p"},
    {" leading blank", "p leading blank"},   {"", "p"},
};

TEST(CommandLine, OwnLinePassesOnWithOnlyItsFirstArgumentReplaced) {
    for (const auto& [own, child] : PASSED_ON) EXPECT_EQ(utf8(pass_on_command_line(KT("p"), native(own).c_str())), child) << own;
    EXPECT_EQ(utf8(pass_on_command_line(native(R"(C:\My Dir\l.exe)").c_str(), KT("l a"))), R"("C:\My Dir\l.exe" a)");
}

std::string repeat(size_t n, char c) { return std::string(n, c); }

// The process-wide line holds 32767 units and its terminator; one more is
// an abnormal end, with nothing written.
TEST(CommandLineDeathTest, LineLimitIs32768UnitsWithTerminator) {
    g_command_line[0] = 0;
    append_argument(native(repeat(32767, 'x')).c_str());
    EXPECT_EQ(utf8(g_command_line).size(), 32767u);

    g_command_line[0] = 0;
    std::string spaced = repeat(32764, 'x') + " ";  // quoted: 32767 units
    append_argument(native(spaced).c_str());
    EXPECT_EQ(utf8(g_command_line), "\"" + spaced + "\"");

    EXPECT_EXIT(
        {
            g_command_line[0] = 0;
            append_argument(native(repeat(32768, 'x')).c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "^$");
    EXPECT_EXIT(
        {
            g_command_line[0] = 0;
            append_argument(native((repeat(32765, 'x') + " ")).c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "^$");
    // The doubled backslashes before the closing quote count too.
    EXPECT_EXIT(
        {
            g_command_line[0] = 0;
            append_argument(native((repeat(32763, 'x') + " \\")).c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "^$");
    // Arguments appended after others share the same room.
    EXPECT_EXIT(
        {
            g_command_line[0] = 0;
            append_argument(native(repeat(20000, 'x')).c_str());
            append_argument(native(repeat(12768, 'y')).c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "^$");
}

}  // namespace
