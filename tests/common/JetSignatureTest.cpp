#include "common/JetSignature.h"

#include <gtest/gtest.h>

using namespace mirsalex;

namespace {
QByteArray page0(const char* name, int version)
{
    QByteArray b(0x80, '\0');
    b[1] = 1;
    b.replace(4, int(qstrlen(name)), name);
    b[0x14] = char(version);
    return b;
}
} // namespace

TEST(JetSignature, TellsTheVersionsAndRefusesOtherFiles)
{
    const auto jet3 = jetSignature(page0("Standard Jet DB", 0));
    ASSERT_TRUE(jet3);
    EXPECT_EQ(jet3->version, JetSignature::Version::Jet3);
    EXPECT_EQ(jet3->pageSize, 2048);
    const auto jet4 = jetSignature(page0("Standard Jet DB", 1));
    ASSERT_TRUE(jet4);
    EXPECT_EQ(jet4->version, JetSignature::Version::Jet4);
    EXPECT_EQ(jet4->pageSize, 4096);
    const auto ace = jetSignature(page0("Standard ACE DB", 3));
    ASSERT_TRUE(ace);
    EXPECT_EQ(ace->version, JetSignature::Version::Ace14);
    EXPECT_TRUE(ace->accdb);

    // An unknown version byte, or an ACE version under the Jet name, is still
    // an Access file, of a version nobody can read.
    const auto odd = jetSignature(page0("Standard Jet DB", 0x42));
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->known());
    EXPECT_FALSE(jetSignature(page0("Standard Jet DB", 3))->known());

    EXPECT_FALSE(jetSignature(QByteArray("SQLite format 3\0", 16) + QByteArray(100, '\0')));
    EXPECT_FALSE(jetSignature(page0("Standard Jet DB", 1).left(0x14)));
    QByteArray wrongPageType = page0("Standard Jet DB", 1);
    wrongPageType[0] = 1;
    EXPECT_FALSE(jetSignature(wrongPageType));
}
