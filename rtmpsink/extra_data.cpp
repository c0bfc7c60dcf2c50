#include <algorithm>
#include <cstring>

#include "dshow/uuids.h"
#include "flv_writer.h"

namespace {

// Reads a little-endian field of the format block, 0 when the block is too short to hold it.
uint32_t FormatField(const AM_MEDIA_TYPE& mediaType, size_t offset, size_t size)
{
    uint32_t value = 0;
    if (mediaType.pbFormat && mediaType.cbFormat >= offset + size) std::memcpy(&value, mediaType.pbFormat + offset, size);
    return value;
}

}  // namespace

int ExtraData::LoadFromMediaType(const AM_MEDIA_TYPE& mediaType)
{
    size_t offset = 0;
    int64_t length = 0;
    const GUID& format = mediaType.formattype;
    if (format == FORMAT_WaveFormatEx) {
        offset = sizeof(WAVEFORMATEX);
        length = FormatField(mediaType, offsetof(WAVEFORMATEX, cbSize), 2);
    } else if (format == FORMAT_VideoInfo) {
        offset = sizeof(VIDEOINFOHEADER);
        length = int64_t(mediaType.cbFormat) - int64_t(offset);
    } else if (format == FORMAT_VideoInfo2) {
        offset = sizeof(VIDEOINFOHEADER2);
        length = int64_t(mediaType.cbFormat) - int64_t(offset);
    } else if (format == FORMAT_MPEGVideo) {
        offset = offsetof(MPEG1VIDEOINFO, bSequenceHeader);
        length = FormatField(mediaType, offsetof(MPEG1VIDEOINFO, cbSequenceHeader), 4);
    } else if (format == FORMAT_MPEG2Video) {
        offset = offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
        length = FormatField(mediaType, offsetof(MPEG2VIDEOINFO, cbSequenceHeader), 4);
    } else {
        return -1;
    }
    // A length field that claims more than the block holds is cut to the block.
    length = std::min<int64_t>(length, int64_t(mediaType.cbFormat) - int64_t(offset));
    bytes.clear();
    if (length > 0 && mediaType.pbFormat)
        bytes.assign(mediaType.pbFormat + offset, mediaType.pbFormat + offset + length);
    return 0;
}
