// H.264 helpers for FLV: the decoder configuration record and NAL unit framing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// From an MPEG-2 sequence header (16-bit length + SPS, 16-bit length + PPS) to an
// AVCDecoderConfigurationRecord with 4-byte NAL lengths; empty when the input is malformed.
std::vector<uint8_t> BuildAvcConfig(const uint8_t* sequenceHeader, size_t size);

// True when a sample is in start-code form: it begins with 00 00 00 01.
bool HasStartCode(const uint8_t* data, size_t size);
// Size of the sample once every 3- or 4-byte start code is a 4-byte big-endian length.
size_t LengthPrefixedSize(const uint8_t* data, size_t size);
// Writes the length-prefixed form (LengthPrefixedSize bytes) to `out`, which must not overlap `data`.
void ConvertStartCodes(const uint8_t* data, size_t size, uint8_t* out);
