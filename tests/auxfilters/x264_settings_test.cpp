#include <gtest/gtest.h>

#include "h264/x264_settings.h"
#include "test_support.h"

TEST(X264Settings, MissingKeyGivesTheBroadcasterDefaults)
{
    ScratchHome home;
    const X264Settings s = ReadX264Settings();
    EXPECT_EQ(s.level, 12);
    EXPECT_EQ(s.bitrate, 1024);
    EXPECT_EQ(s.vbvMaxRate, 1228);
    EXPECT_EQ(s.keyIntMax, 90);
    EXPECT_EQ(s.refFrames, 5);
    EXPECT_EQ(s.subpixel, 3);
}

TEST(X264Settings, StoredValuesReachX264Parameters)
{
    ScratchHome home;
    SetRegistryDword(kX264SettingsKey, "Level", 8);  // "Level 3"
    SetRegistryDword(kX264SettingsKey, "bitrate", 2500);  // names match without regard to case
    SetRegistryDword(kX264SettingsKey, "VBVMaxRate", 3000);
    SetRegistryDword(kX264SettingsKey, "VBVSize", 1500);
    SetRegistryDword(kX264SettingsKey, "KeyIntMin", 25);
    SetRegistryDword(kX264SettingsKey, "KeyIntMax", 75);
    SetRegistryDword(kX264SettingsKey, "BFrames", 0);
    SetRegistryDword(kX264SettingsKey, "CABAC", 0);
    SetRegistryDword(kX264SettingsKey, "DeblockStrength", static_cast<uint32_t>(-6));
    SetRegistryDword(kX264SettingsKey, "PartitionsIntra", 0);
    SetRegistryDword(kX264SettingsKey, "PartitionsInter", 1);
    SetRegistryDword(kX264SettingsKey, "Parallel", 0);

    x264_param_t p;
    ApplyX264Settings(ReadX264Settings(), 1280, 720, 30, 1, &p);
    EXPECT_EQ(p.i_level_idc, 30);
    EXPECT_EQ(p.rc.i_rc_method, X264_RC_ABR);
    EXPECT_EQ(p.rc.i_bitrate, 2500);
    EXPECT_EQ(p.rc.i_vbv_max_bitrate, 3000);
    EXPECT_EQ(p.rc.i_vbv_buffer_size, 1500);
    EXPECT_EQ(p.i_keyint_min, 25);
    EXPECT_EQ(p.i_keyint_max, 75);
    EXPECT_EQ(p.i_bframe, 0);
    EXPECT_EQ(p.b_cabac, 0);
    EXPECT_EQ(p.i_deblocking_filter_alphac0, -6);
    EXPECT_EQ(p.analyse.intra, 0u);
    EXPECT_EQ(p.analyse.inter, unsigned(X264_ANALYSE_PSUB16x16 | X264_ANALYSE_BSUB16x16));
    EXPECT_EQ(p.i_threads, 1);
    EXPECT_EQ(p.b_annexb, 0);
    EXPECT_EQ(p.b_repeat_headers, 0);
}

TEST(X264Settings, ReferenceFramesStayWithinTheLevel)
{
    ScratchHome home;  // Level 4.1 and 5 reference frames
    x264_param_t p;
    ApplyX264Settings(ReadX264Settings(), 1920, 1080, 30, 1, &p);
    EXPECT_EQ(p.i_level_idc, 41);
    EXPECT_EQ(p.i_frame_reference, 4);  // 32768 macroblocks of picture buffer, 8160 per picture
    ApplyX264Settings(ReadX264Settings(), 1280, 720, 30, 1, &p);
    EXPECT_EQ(p.i_frame_reference, 5);
}

TEST(X264Settings, RateControlNameKeepsItsTrailingBlank)
{
    ScratchHome home;
    SetRegistryDword(kX264SettingsKey, "RCMethod", 1);  // not the stored name: ignored
    EXPECT_EQ(ReadX264Settings().rcMethod, 0);
    SetRegistryDword(kX264SettingsKey, "RCMethod ", 1);
    SetRegistryDword(kX264SettingsKey, "QPConst", 30);
    x264_param_t p;
    ApplyX264Settings(ReadX264Settings(), 640, 360, 25, 1, &p);
    EXPECT_EQ(p.rc.i_rc_method, X264_RC_CQP);
    EXPECT_EQ(p.rc.i_qp_constant, 30);
}

TEST(X264Settings, LevelListPositions)
{
    EXPECT_EQ(LevelIdcForPosition(0), 10);
    EXPECT_EQ(LevelIdcForPosition(1), 9);  // 1b
    EXPECT_EQ(LevelIdcForPosition(12), 41);
    EXPECT_EQ(LevelIdcForPosition(15), 51);
    EXPECT_EQ(LevelIdcForPosition(16), -1);
    EXPECT_EQ(LevelIdcForPosition(-1), -1);
}
