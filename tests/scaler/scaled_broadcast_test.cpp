// veltro-cli broadcasting the virtual camera's RGB test pattern through the scaler to nginx-rtmp
// and a recording: resized, the decoded picture is as bright as without resizing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "test_peers.h"

namespace {

// Mean luma of every decoded frame of a recording, 0 when nothing decodes.
double MeanLuma(const std::string& file)
{
    std::string gray;
    RunCommand("ffmpeg -v error -i '" + file + "' -vf format=gray -f rawvideo -", &gray);
    double sum = 0;
    for (unsigned char sample : gray) sum += sample;
    return gray.empty() ? 0 : sum / gray.size();
}

TEST(ScaledBroadcast, ResizedRgbPictureKeepsItsBrightness)
{
    const std::string dir = MakeTempDir();
    const std::string control = dir + "/virtual-devices";
    std::ofstream(control) << "camera present\nmicrophone present\n";
    setenv("VELTRO_VIRTUAL_DEVICES", "1", 1);
    setenv("VELTRO_VIRTUAL_DEVICE_CONTROL", control.c_str(), 1);
    NginxRtmpServer server(dir + "/nginx");
    ASSERT_TRUE(server.Start());
    auto broadcast = [&](const std::string& name, const std::string& options) {
        const std::string mp4 = dir + "/" + name + ".mp4", log = dir + "/" + name + ".log";
        const std::string command = std::string(VELTRO_BIN_DIR) + "/veltro-cli broadcast --url " +
                                    server.Url("live/" + name) + " --seconds 3 --format RGB --size 640x480 --record '" +
                                    mp4 + "'" + options + " > '" + log + "' 2>&1";
        EXPECT_EQ(RunCommand(command), 0) << ReadTextFile(log);
        return MeanLuma(mp4);
    };
    const double unresized = broadcast("unresized", "");
    const double resized = broadcast("resized", " --resize 320x240");
    EXPECT_GT(unresized, 60);  // the test pattern, not black (16)
    EXPECT_NEAR(resized, unresized, 0.1 * unresized);
    server.Stop();
    RunCommand("rm -rf '" + dir + "'");
}

}  // namespace
