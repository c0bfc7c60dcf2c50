// TVideo_Encoder and TAudio_Encoder: caches of the encoder filters' registry keys, which
// the H.264 and AAC encoders read when they are created. The registry is authoritative.
#pragma once

#include <string>

extern const char* const kVideoEncoderKey;  // "\Software\MONOGRAM\MONOGRAM x264 Encoder"
extern const char* const kAudioEncoderKey;  // "\Software\MONOGRAM\MONOGRAM AAC Encoder"

// Opens (creating when missing) `key` under the current user's hive and writes one DWORD;
// false when the key cannot be opened or the write fails.
bool WriteUserDword(const char* key, const char* name, int value);

class TVideo_Encoder {
public:
    int Level = 0, CABAC = 0, Parallel = 0, Deblock = 0, Deblock_Strength = 0, RefFrames = 0, KeyIntMin = 0,
        KeyIntMax = 0, Bframes = 0, BAdaptive = 0, PartitionsIntra = 0, PartitionsInter = 0, Subpixel = 0,
        Bitrate = 0, Interlaced = 0, KeyFrequency = 0, Trellis = 0, DirectMV = 0, WeightedPred = 0, MixedRefs = 0,
        SlicedThreading = 0;

    bool Key_Check() const;
    // Reads the 21 values in their fixed order; false at the first missing one (the values
    // read before it keep their new values).
    bool Registry_Read();
    void Set_value(const std::string& Key, int Value);
    void Set_Interlace(int x);
    int Get_Interlace() const { return Interlaced; }
    // Keyframe values for a new whole frame rate, keeping the stored interval.
    void Set_Keyframe(int framesPerSecond);
    // Keyframe values for a chosen interval (seconds) at a whole frame rate.
    void Set_KeyframeInterval(int seconds, int framesPerSecond);
    // The video bit-rate list's choice: "Bitrate", "VBVMaxRate" and "VBVSize".
    void Set_Bitrate(int kbps);
    void Resolve_Verror_settings();
};

class TAudio_Encoder {
public:
    int Bitrate = 0;  // bit/s

    void Set_Bitrate(int x);
    // Reads "Bitrate" into the field; false when it cannot be read.
    bool Get_Bitrate();
    void Resolve_Aerror_settings();
};

// The first start for a user: when the video key is missing, the wait notice is shown for
// two seconds and both default sets are written.
class IPopupPresenter;
void EnsureEncoderDefaults(IPopupPresenter& presenter);

// "KeyIntMin" and "KeyIntMax" for an interval of n seconds at f frames per second.
struct KeyframeValues {
    int KeyIntMin;
    int KeyIntMax;
};
KeyframeValues KeyframeRule(int seconds, int framesPerSecond);
// The whole part of a frame-rate text ("29.97" -> 29); 30 when it has no "." or no digits before it.
int WholeFrameRate(const std::string& framerateText);
