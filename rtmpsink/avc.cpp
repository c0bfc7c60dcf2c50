#include "avc.h"

#include <cstring>

namespace {

// The next start code at or after `from`: its position and length (3 or 4), or size when none.
size_t FindStartCode(const uint8_t* data, size_t size, size_t from, size_t& codeLength)
{
    for (size_t i = from; i + 3 <= size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0) continue;
        if (data[i + 2] == 1) {
            codeLength = 3;
            return i;
        }
        if (i + 4 <= size && data[i + 2] == 0 && data[i + 3] == 1) {
            codeLength = 4;
            return i;
        }
    }
    codeLength = 0;
    return size;
}

// Calls visit(nalStart, nalLength) for each NAL unit between start codes.
template <class Visit>
void ForEachNalUnit(const uint8_t* data, size_t size, Visit visit)
{
    size_t codeLength = 0;
    size_t at = FindStartCode(data, size, 0, codeLength);
    while (at < size) {
        size_t begin = at + codeLength;
        size_t nextLength = 0;
        size_t next = FindStartCode(data, size, begin, nextLength);
        visit(data + begin, next - begin);
        at = next;
        codeLength = nextLength;
    }
}

uint8_t* WriteLength(uint8_t* out, size_t length, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) *out++ = static_cast<uint8_t>(length >> (8 * i));
    return out;
}

}  // namespace

bool HasStartCode(const uint8_t* data, size_t size)
{
    return size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1;
}

size_t LengthPrefixedSize(const uint8_t* data, size_t size)
{
    size_t total = 0;
    ForEachNalUnit(data, size, [&](const uint8_t*, size_t length) { total += 4 + length; });
    return total;
}

void ConvertStartCodes(const uint8_t* data, size_t size, uint8_t* out)
{
    ForEachNalUnit(data, size, [&](const uint8_t* nal, size_t length) {
        out = WriteLength(out, length, 4);
        std::memcpy(out, nal, length);
        out += length;
    });
}

std::vector<uint8_t> BuildAvcConfig(const uint8_t* sequenceHeader, size_t size)
{
    if (size < 2) return {};
    size_t spsLength = (size_t(sequenceHeader[0]) << 8) | sequenceHeader[1];
    const uint8_t* sps = sequenceHeader + 2;
    if (spsLength < 4 || 2 + spsLength + 2 > size) return {};
    size_t ppsLength = (size_t(sps[spsLength]) << 8) | sps[spsLength + 1];
    const uint8_t* pps = sps + spsLength + 2;
    if (4 + spsLength + ppsLength > size) return {};

    std::vector<uint8_t> record(spsLength + ppsLength + 11);
    uint8_t* out = record.data();
    *out++ = 0x01;  // configuration version
    *out++ = sps[1];  // profile
    *out++ = sps[2];  // profile compatibility
    *out++ = sps[3];  // level
    *out++ = 0xFF;  // 4-byte NAL lengths
    *out++ = 0xE1;  // one SPS
    out = WriteLength(out, spsLength, 2);
    std::memcpy(out, sps, spsLength);
    out += spsLength;
    *out++ = 0x01;  // one PPS
    out = WriteLength(out, ppsLength, 2);
    std::memcpy(out, pps, ppsLength);
    return record;
}
