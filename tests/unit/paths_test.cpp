// The backends' portable path logic, on every system: the full path of a
// POSIX directory by text, and the name of the lock on a target directory.
#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"

namespace {

using text = std::basic_string<kchar>;

TEST(ResolvePath, JoinsToTheBaseFoldsDotsAndKeepsOnlyAGivenTrailingSeparator) {
    struct Row {
        const kchar* in;
        const kchar* full;
    } rows[] = {
        {KT("/home/u/.cache/Dorvan/Velmora/1.0.0.0"), KT("/home/u/.cache/Dorvan/Velmora/1.0.0.0")},
        {KT("t"), KT("/base/dir/t")},
        {KT("a/./b/../c"), KT("/base/dir/a/c")},
        {KT("a/b/"), KT("/base/dir/a/b/")},
        {KT("../../../x"), KT("/x")},
        {KT("/x//y/./z/../"), KT("/x/y/")},
        {KT("/x/../../.."), KT("/")},
        {KT("/"), KT("/")},
        // Components are text only: a name with dots is not a dot component.
        {KT("/x/.../..a/a.."), KT("/x/.../..a/a..")},
    };
    for (const Row& row : rows) {
        kchar out[64];
        std::uint32_t n = kay_resolve_path(KT("/base/dir"), row.in, out, 64);
        EXPECT_EQ(text(out, n), row.full) << row.in;
        EXPECT_EQ(out[n], 0);
    }
    // No room: the size needed, the terminator counted; nothing for "".
    kchar out[8];
    EXPECT_EQ(kay_resolve_path(KT("/base/dir"), KT("t"), out, 11), 12u);
    EXPECT_EQ(kay_resolve_path(KT("/base/dir"), KT("t"), out, 12), 11u);
    EXPECT_EQ(kay_resolve_path(KT("/base/dir"), KT(""), out, 8), 0u);
}

TEST(LockName, FnvHashOfTheFoldedPathWithEitherSeparator) {
    // Launchers of every version must agree on the name; values from an
    // independent FNV-1a over the path's 16-bit units.
    struct Row {
        const kchar* folded;
        const kchar* name;
    } rows[] = {
        {KT("C:\\USERS\\U\\APPDATA\\LOCAL\\DORVAN\\VELMORA\\1.0.0.0"), KT("Local\\kay-unpack-ae0c9f155ec99a9c")},
        {KT("C:/USERS/U/APPDATA/LOCAL/DORVAN/VELMORA/1.0.0.0"), KT("Local\\kay-unpack-ae0c9f155ec99a9c")},
        {KT(""), KT("Local\\kay-unpack-cbf29ce484222325")},
    };
    for (const Row& row : rows) {
        kchar name[KAY_LOCK_NAME_CAPACITY];
        kay_lock_name(row.folded, name);
        EXPECT_EQ(text(name), row.name) << row.folded;
    }
}

}  // namespace
