#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "reference_kernels.h"

namespace {

class ScalvoCli : public testing::Test {
protected:
    ScalvoCli()
    {
        dir = std::filesystem::temp_directory_path() / ("scalvo-cli-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    ~ScalvoCli() override { std::filesystem::remove_all(dir); }

    // Runs scalvo-cli on `input`; returns its exit status and fills `output`.
    int Run(const std::string& args, const std::vector<uint8_t>& input, std::vector<uint8_t>* output)
    {
        const auto in = dir / "in.raw", out = dir / "out.raw";
        std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(input.data()), input.size());
        const std::string command = "VELTRO_REGISTRY_DIR=" + dir.string() + " " + VELTRO_BIN_DIR + "/scalvo-cli " +
                                    args + " < " + in.string() + " > " + out.string();
        int status = std::system(command.c_str());
        std::ifstream result(out, std::ios::binary);
        output->assign(std::istreambuf_iterator<char>(result), {});
        return status;
    }
    static std::vector<uint8_t> Noise(size_t n)
    {
        std::mt19937 gen(42);
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = uint8_t(gen());
        return v;
    }

    std::filesystem::path dir;
};

TEST_F(ScalvoCli, ScalesEveryPlaneOfEveryFrame)
{
    const uint32_t sw = 64, sh = 48, dw = 40, dh = 30;
    const size_t inFrame = sw * sh * 3 / 2, outFrame = dw * dh * 3 / 2;
    auto input = Noise(2 * inFrame);
    std::vector<uint8_t> output;
    ASSERT_EQ(Run("--in YV12:64x48 --out YV12:40x30 --method 0", input, &output), 0);
    ASSERT_EQ(output.size(), 2 * outFrame);
    for (int frame = 0; frame < 2; ++frame) {
        size_t inAt = frame * inFrame, outAt = frame * outFrame;
        const uint32_t planes[3][4] = {{sw, sh, dw, dh}, {sw / 2, sh / 2, dw / 2, dh / 2}, {sw / 2, sh / 2, dw / 2, dh / 2}};
        for (const auto& p : planes) {
            std::vector<uint8_t> plane(input.begin() + inAt, input.begin() + inAt + p[0] * p[1]);
            auto expected = reference::Resample(0, plane, p[0], p[1], p[2], p[3]);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), output.begin() + outAt)) << "frame " << frame;
            inAt += p[0] * p[1];
            outAt += p[2] * p[3];
        }
    }
}

TEST_F(ScalvoCli, SameFormatAndSizeIsCopied)
{
    auto input = Noise(3 * 32 * 16 * 2);
    std::vector<uint8_t> output;
    ASSERT_EQ(Run("--in UYVY:32x16 --out UYVY:32x16", input, &output), 0);
    EXPECT_EQ(output, input);
}

TEST_F(ScalvoCli, BadCommandLinesAreRefused)
{
    std::vector<uint8_t> output;
    EXPECT_NE(Run("--in NV12:32x16 --out YUY2:32x16", {}, &output), 0);
    EXPECT_NE(Run("--in YUY2:32x16", {}, &output), 0);
    EXPECT_NE(Run("--in YUY2:32x16 --out YUY2:32x16 --method 3", {}, &output), 0);
    // Half a chroma sample would leave the last column or row unwritten.
    EXPECT_NE(Run("--in YUY2:64x48 --out YUY2:63x48", {}, &output), 0);
    EXPECT_NE(Run("--in YUY2:64x48 --out YV12:64x47", {}, &output), 0);
    EXPECT_NE(Run("--in YUY2:64x48 --out UYVY:1x1", {}, &output), 0);
    EXPECT_EQ(Run("--in YUY2:64x48 --out RGB24:63x47", std::vector<uint8_t>(64 * 48 * 2), &output), 0);
}

}  // namespace
