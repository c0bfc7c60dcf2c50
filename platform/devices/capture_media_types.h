// Media types of the capture pins. A video format is offered as a pair, VIDEOINFOHEADER then
// VIDEOINFOHEADER2, as Windows camera drivers do; position i of a video pin is format i / 2
// with header kind i % 2. Audio is 16-bit PCM with a plain WAVEFORMATEX.
#pragma once

#include <vector>

#include "../dshow/formats.h"
#include "capture_backend.h"

enum class VideoHeaderKind { VideoInfo = 0, VideoInfo2 = 1 };

// Fills `mt` (whose format block must be empty) with a newly allocated format block.
void BuildVideoMediaType(const VideoFormat& format, VideoHeaderKind kind, REFERENCE_TIME interval, AM_MEDIA_TYPE* mt);
void BuildAudioMediaType(const AudioFormat& format, AM_MEDIA_TYPE* mt);

void FillVideoCaps(const VideoFormat& format, VIDEO_STREAM_CONFIG_CAPS* caps);
void FillAudioCaps(const AudioFormat& format, AUDIO_STREAM_CONFIG_CAPS* caps);

// The offered format that `mt` asks for (same subtype and size, either header kind) and the
// frame interval to run it at (the nearest supported one to the type's AvgTimePerFrame).
struct VideoChoice {
    size_t formatIndex;
    VideoHeaderKind kind;
    REFERENCE_TIME interval;
};
bool MatchVideoMediaType(const std::vector<VideoFormat>& formats, const AM_MEDIA_TYPE& mt, VideoChoice* choice);
bool MatchAudioMediaType(const std::vector<AudioFormat>& formats, const AM_MEDIA_TYPE& mt, size_t* formatIndex);

const GUID& SubtypeOf(PixelFormat format);
