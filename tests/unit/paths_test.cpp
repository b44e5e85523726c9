// The backends' portable path logic, on every system: the full path of a
// POSIX directory by text, and the name of the lock on a target directory.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/paths.h"

namespace {

using text = std::basic_string<kchar>;

TEST(ResolvePath, JoinsToTheBaseFoldsDotsAndKeepsOnlyAGivenTrailingSeparator) {
    const std::pair<const kchar*, const kchar*> rows[] = {
        {KT("/home/u/.cache/Dorvan/Velmora/1.0.0.0"), KT("/home/u/.cache/Dorvan/Velmora/1.0.0.0")},
        {KT("t"), KT("/base/dir/t")}, {KT("a/./b/../c"), KT("/base/dir/a/c")}, {KT("a/b/"), KT("/base/dir/a/b/")},
        {KT("../../../x"), KT("/x")}, {KT("/x//y/./z/../"), KT("/x/y/")}, {KT("/x/../../.."), KT("/")},
        {KT("/"), KT("/")},
        // Components are text only: a name with dots is not a dot component.
        {KT("/x/.../..a/a.."), KT("/x/.../..a/a..")}};
    kchar out[64];
    for (const auto& [in, full] : rows) {
        std::uint32_t n = kay_resolve_path(KT("/base/dir"), in, out, 64);
        EXPECT_EQ(text(out, n + 1), text(full) + kchar(0)) << in;
    }
    // No room: the size needed, the terminator counted; nothing for "".
    EXPECT_EQ(kay_resolve_path(KT("/base/dir"), KT("t"), out, 11), 12u);
    EXPECT_EQ(kay_resolve_path(KT("/base/dir"), KT("t"), out, 12), 11u);
    EXPECT_EQ(kay_resolve_path(KT("/base/dir"), KT(""), out, 64), 0u);
}

// Launchers of every version must agree on the name: values from an
// independent FNV-1a over the path's 16-bit units.
TEST(LockName, FnvHashOfTheFoldedPathWithEitherSeparator) {
    const std::pair<const kchar*, const kchar*> rows[] = {
        {KT("C:\\USERS\\U\\APPDATA\\LOCAL\\DORVAN\\VELMORA\\1.0.0.0"), KT("Local\\kay-unpack-ae0c9f155ec99a9c")},
        {KT("C:/USERS/U/APPDATA/LOCAL/DORVAN/VELMORA/1.0.0.0"), KT("Local\\kay-unpack-ae0c9f155ec99a9c")},
        {KT(""), KT("Local\\kay-unpack-cbf29ce484222325")}};
    for (const auto& [folded, name] : rows) {
        kchar out[KAY_LOCK_NAME_CAPACITY];
        kay_lock_name(folded, out);
        EXPECT_EQ(text(out), name) << folded;
    }
}

}  // namespace
