#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

const char* const kUsage =
    "usage: veltro-cli devices\n"
    "       veltro-cli channels --user U --password P\n"
    "       veltro-cli broadcast (--url RTMP_URL | --user U --password P --channel N) [--seconds S]\n"
    "                            [--record FILE] [--video-device N|none] [--audio-device N|none]\n"
    "                            [--format NAME] [--size WxH] [--fps F] [--resize WxH]\n"
    "                            [--video-bitrate K] [--audio-bitrate K] [--half-fps]\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "devices") == 0) return RunDevices(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "channels") == 0) return RunChannels(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "broadcast") == 0) return RunBroadcast(argc, argv);
    std::fputs(kUsage, stderr);
    return 2;
}
