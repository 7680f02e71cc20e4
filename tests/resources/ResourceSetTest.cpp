// The built-in images and the override that tests use to leave one out or swap it.
#include <gtest/gtest.h>

#include <string>

#include "resources/Resources.h"
#include "tests/support/ResourceOverride.h"

namespace {

std::string Text(const CResource& res) {
    return std::string(reinterpret_cast<const char*>(res.m_pData), res.m_nSize);
}

TEST(BuiltinResources, LoaderAndPackageHaveTheReleaseSizes) {
    CResource loader = FindResource("BIN", kIdLoader);
    CResource package = FindResource("BIN", kIdPackage);
    ASSERT_TRUE(loader);
    ASSERT_TRUE(package);
    // The upload sends the length as two bytes, 0x0B 0xF8.
    EXPECT_EQ(loader.m_nSize, 3064u);
    EXPECT_EQ(package.m_nSize, 118658u);
    EXPECT_EQ(Text(package).substr(0, 32), "PUF14303  TVK35/50 NRP7/70  V260");
    EXPECT_EQ(Text(package).substr(package.m_nSize - 4), "PUFE");
}

TEST(BuiltinResources, UnknownEntriesAreMissing) {
    EXPECT_FALSE(FindResource("BIN", 144));
    EXPECT_FALSE(FindResource("BITMAP", kIdLoader));
    EXPECT_FALSE(FindResource("bin", kIdLoader));
}

TEST(ResourceOverride, HidesAndReplacesSingleEntriesAndForwardsTheRest) {
    {
        CResourceOverride resources;
        resources.Hide("BIN", kIdLoader).Replace("BIN", kIdPackage, {'P', 'U', 'F'});
        EXPECT_FALSE(FindResource("BIN", kIdLoader));
        ASSERT_TRUE(FindResource("BIN", kIdPackage));
        EXPECT_EQ(Text(FindResource("BIN", kIdPackage)), "PUF");
        EXPECT_TRUE(FindResource("STRINGS", 1));
        // The built-in set itself is untouched.
        EXPECT_EQ(GetBuiltinResources().Find("BIN", kIdLoader).m_nSize, 3064u);

        // A resource of size 0 counts as missing, whatever pointer comes with it.
        resources.Replace("BIN", kIdPackage, {});
        CResource empty = FindResource("BIN", kIdPackage);
        EXPECT_FALSE(empty);
        EXPECT_EQ(empty.m_pData, nullptr);

        resources.Restore("BIN", kIdLoader);
        EXPECT_EQ(FindResource("BIN", kIdLoader).m_nSize, 3064u);
    }
    EXPECT_EQ(FindResource("BIN", kIdPackage).m_nSize, 118658u);
    EXPECT_EQ(FindResource("BIN", kIdLoader).m_nSize, 3064u);
}

} // namespace
