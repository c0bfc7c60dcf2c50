#include "flv_file.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint32_t Be(const uint8_t* p, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
    return value;
}

std::vector<uint8_t> SequenceHeaderFromRecord(const uint8_t* record, size_t size)
{
    std::vector<uint8_t> header;
    if (size < 8) return header;
    size_t at = 6;
    uint32_t spsLength = Be(record + at, 2);
    header.insert(header.end(), record + at, record + at + 2 + spsLength);
    at += 2 + spsLength + 1;  // the PPS count follows the SPS
    uint32_t ppsLength = Be(record + at, 2);
    header.insert(header.end(), record + at, record + at + 2 + ppsLength);
    return header;
}

// Length-prefixed NAL units to start codes, as encoders write them.
std::vector<uint8_t> ToStartCodes(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out;
    bool first = true;
    for (size_t at = 0; at + 4 <= size;) {
        uint32_t length = Be(data + at, 4);
        at += 4;
        if (first) out.push_back(0);
        out.insert(out.end(), {0, 0, 1});
        out.insert(out.end(), data + at, data + at + length);
        at += length;
        first = false;
    }
    return out;
}

}  // namespace

EncodedStreams ReadFlvFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EncodedStreams streams;
    if (bytes.size() < 13) return streams;
    constexpr REFERENCE_TIME kAacFrame = 1024 * 10000000LL / 44100;
    for (size_t at = 13; at + 11 <= bytes.size();) {
        const uint8_t* tag = bytes.data() + at;
        uint8_t type = tag[0];
        uint32_t size = Be(tag + 1, 3);
        int64_t timestamp = Be(tag + 4, 3) | (uint32_t(tag[7]) << 24);
        const uint8_t* body = tag + 11;
        if (at + 11 + size + 4 > bytes.size()) break;
        if (type == 9 && size > 5) {
            int32_t composition = int32_t(Be(body + 2, 3) << 8) >> 8;
            if (body[1] == 0) {
                streams.sequenceHeader = SequenceHeaderFromRecord(body + 5, size - 5);
            } else {
                EncodedUnit unit;
                unit.data = ToStartCodes(body + 5, size - 5);
                unit.decoding = timestamp * 10000;
                unit.presentation = (timestamp + composition) * 10000;
                unit.start = unit.presentation;
                unit.stop = unit.start + 1;
                unit.syncPoint = (body[0] >> 4) == 1;
                streams.video.push_back(std::move(unit));
            }
        } else if (type == 8 && size > 2) {
            if (body[1] == 0) {
                streams.audioSpecificConfig.assign(body + 2, body + size);
            } else {
                EncodedUnit unit;
                unit.data.assign(body + 2, body + size);
                unit.start = timestamp * 10000;
                unit.stop = unit.start + kAacFrame;
                unit.syncPoint = true;
                streams.audio.push_back(std::move(unit));
            }
        }
        at += 11 + size + 4;
    }
    return streams;
}

CMediaType AvcMediaType(const EncodedStreams& streams, int width, int height, REFERENCE_TIME frameDuration)
{
    CMediaType mt;
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_AVC1;
    mt.formattype = FORMAT_MPEG2Video;
    ULONG sequenceBytes = ULONG(streams.sequenceHeader.size());
    auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(mt.AllocFormatBuffer(SIZE_MPEG2VIDEOINFO(sequenceBytes)));
    info->hdr.AvgTimePerFrame = frameDuration;
    info->hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->hdr.bmiHeader.biWidth = width;
    info->hdr.bmiHeader.biHeight = height;
    info->hdr.bmiHeader.biCompression = MakeFourCC('A', 'V', 'C', '1');
    info->cbSequenceHeader = sequenceBytes;
    std::memcpy(info->dwSequenceHeader, streams.sequenceHeader.data(), sequenceBytes);
    return mt;
}

CMediaType AacMediaType(const EncodedStreams& streams, int channels, int sampleRate)
{
    CMediaType mt;
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_RAW_AAC1;
    mt.formattype = FORMAT_WaveFormatEx;
    ULONG extra = ULONG(streams.audioSpecificConfig.size());
    BYTE* block = mt.AllocFormatBuffer(sizeof(WAVEFORMATEX) + extra);
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_RAW_AAC1;
    wave.nChannels = WORD(channels);
    wave.nSamplesPerSec = DWORD(sampleRate);
    wave.nBlockAlign = 1;
    wave.cbSize = WORD(extra);
    std::memcpy(block, &wave, sizeof wave);
    std::memcpy(block + sizeof wave, streams.audioSpecificConfig.data(), extra);
    return mt;
}
