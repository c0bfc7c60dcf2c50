// Command line of scalvo-cli.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "raw_frames.h"

struct CliOptions {
    RawFormat in, out;
    std::optional<uint32_t> method;
    std::optional<std::vector<uint32_t>> crop;  // left, top, right, bottom
    std::optional<std::pair<double, double>> ar;
    uint32_t arMethod = 0;
    std::optional<uint32_t> interlace, vbi, affinityMask;
    uint64_t frames = 0;
    bool bench = false;
    bool properties = false;  // show the scaler's pages instead of converting frames
};

// Empty with `error` set on a bad command line.
std::optional<CliOptions> ParseOptions(const std::vector<std::string>& args, std::string* error);
extern const char* const kUsage;
