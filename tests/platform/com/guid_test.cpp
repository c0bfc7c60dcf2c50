#include <gtest/gtest.h>

#include <unordered_set>

#include "com/guid.h"

namespace {

TEST(Guid, TextRoundTrips)
{
    constexpr GUID g = {0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    EXPECT_EQ(GuidToString(g), "{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
    EXPECT_EQ(GuidFromString("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}"), g);
    EXPECT_EQ(GuidFromString("{0c733a30-2a1c-11ce-ade5-00aa0044773d}"), g);
    EXPECT_EQ(GuidFromString("0C733A30-2A1C-11CE-ADE5-00AA0044773D"), g);
    EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");

    for (const char* bad : {"", "{}", "{0C733A30-2A1C-11CE-ADE5-00AA0044773D", "0C733A30-2A1C-11CE-ADE5-00AA0044773D}",
                            "{0C733A30-2A1C-11CE-ADE500-AA0044773D}", "{0C733A30-2A1C-11CE-ADE5-00AA0044773G}",
                            "{0C733A30+2A1C-11CE-ADE5-00AA0044773D}", "{0C733A30-2A1C-11CE-ADE5-00AA0044773D}x"})
        EXPECT_FALSE(GuidFromString(bad).has_value()) << bad;
}

TEST(Guid, FourCCSubtypesAndHashing)
{
    GUID yuy2 = GuidFromFourCC(MakeFourCC('Y', 'U', 'Y', '2'));
    EXPECT_EQ(GuidToString(yuy2), "{32595559-0000-0010-8000-00AA00389B71}");
    std::unordered_set<GUID> set{yuy2, GuidFromFourCC(MakeFourCC('I', '4', '2', '0')), yuy2};
    EXPECT_EQ(set.size(), 2u);
}

}  // namespace
