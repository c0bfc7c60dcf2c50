#include "encoder_settings.h"

#include <chrono>
#include <thread>

#include "../settings/popup_presenter.h"
#include "registry/registry.h"

const char* const kVideoEncoderKey = "\\Software\\MONOGRAM\\MONOGRAM x264 Encoder";
const char* const kAudioEncoderKey = "\\Software\\MONOGRAM\\MONOGRAM AAC Encoder";

namespace {

struct VideoDefault {
    const char* name;
    int value;
};
// Written in this order on first use; "RCMethod " carries a trailing blank.
const VideoDefault kVideoDefaults[] = {
    {"Keyfrequency", 3},     {"AnnexB", 0},         {"AUD", 0},           {"BAdaptive", 0},
    {"BFrames", 2},          {"Bitrate", 1024},     {"VBVSize", 1024},    {"VBVMaxRate", 1228},
    {"BPyramid", 0},         {"CABAC", 1},          {"Deblock", 1},       {"DeblockStrength", 0},
    {"DirectMV", 1},         {"Interlaced", 0},     {"IntraRefresh", 0},  {"KeyIntMin", 30},
    {"KeyIntMax", 90},       {"Level", 12},         {"MixedRefs", 1},     {"Parallel", 1},
    {"PartitionsIntra", 1},  {"PartitionsInter", 2}, {"QPConst", 23},     {"QPMax", 51},
    {"QPMin", 6},            {"RCMethod ", 0},      {"RefFrames", 5},     {"SlicedThreading", 0},
    {"Subpixel", 3},         {"Tolerance", 10},     {"Trellis", 1},       {"WeightedPred", 1},
};

class UserKey {
public:
    explicit UserKey(const char* path)
    {
        if (RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~UserKey()
    {
        if (key_) RegCloseKey(key_);
    }
    UserKey(const UserKey&) = delete;
    UserKey& operator=(const UserKey&) = delete;

    bool Write(const char* name, int value)
    {
        DWORD data = static_cast<DWORD>(value);
        return key_ && RegSetValueEx(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data) ==
                           ERROR_SUCCESS;
    }
    bool Read(const char* name, int& value)
    {
        DWORD data = 0, type = 0, size = sizeof data;
        if (!key_ || RegQueryValueEx(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            return false;
        value = static_cast<int>(data);
        return true;
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace

bool WriteUserDword(const char* key, const char* name, int value) { return UserKey(key).Write(name, value); }

bool TVideo_Encoder::Key_Check() const
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, kVideoEncoderKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool TVideo_Encoder::Registry_Read()
{
    UserKey key(kVideoEncoderKey);
    const std::pair<const char*, int*> fields[] = {
        {"Level", &Level},
        {"Parallel", &Parallel},
        {"CABAC", &CABAC},
        {"Deblock", &Deblock},
        {"DeblockStrength", &Deblock_Strength},
        {"RefFrames", &RefFrames},
        {"KeyIntMin", &KeyIntMin},
        {"KeyIntMax", &KeyIntMax},
        {"Keyfrequency", &KeyFrequency},
        {"BFrames", &Bframes},
        {"BAdaptive", &BAdaptive},
        {"PartitionsIntra", &PartitionsIntra},
        {"PartitionsInter", &PartitionsInter},
        {"Subpixel", &Subpixel},
        {"Interlaced", &Interlaced},
        {"Bitrate", &Bitrate},
        {"SlicedThreading", &SlicedThreading},
        {"WeightedPred", &WeightedPred},
        {"Trellis", &Trellis},
        {"MixedRefs", &MixedRefs},
        {"DirectMV", &DirectMV},
    };
    for (const auto& [name, field] : fields)
        if (!key.Read(name, *field)) return false;
    return true;
}

void TVideo_Encoder::Set_value(const std::string& Key, int Value) { UserKey(kVideoEncoderKey).Write(Key.c_str(), Value); }

void TVideo_Encoder::Set_Interlace(int x)
{
    Interlaced = x;
    Set_value("Interlaced", x);
}

KeyframeValues KeyframeRule(int seconds, int framesPerSecond)
{
    if (seconds == 1) return {16, framesPerSecond};
    return {framesPerSecond, seconds * framesPerSecond};
}

void TVideo_Encoder::Set_Keyframe(int framesPerSecond)
{
    Registry_Read();
    KeyframeValues values = KeyframeRule(KeyFrequency, framesPerSecond);
    KeyIntMin = values.KeyIntMin;
    KeyIntMax = values.KeyIntMax;
    Set_value("KeyIntMin", KeyIntMin);
    Set_value("KeyIntMax", KeyIntMax);
}

void TVideo_Encoder::Set_KeyframeInterval(int seconds, int framesPerSecond)
{
    KeyFrequency = seconds;
    Set_value("Keyfrequency", seconds);
    KeyframeValues values = KeyframeRule(seconds, framesPerSecond);
    Set_value("KeyIntMin", values.KeyIntMin);
    Set_value("KeyIntMax", values.KeyIntMax);
}

void TVideo_Encoder::Set_Bitrate(int kbps)
{
    Set_value("Bitrate", kbps);
    Set_value("VBVMaxRate", kbps);
    Set_value("VBVSize", kbps);
}

void TVideo_Encoder::Resolve_Verror_settings()
{
    UserKey key(kVideoEncoderKey);
    for (const VideoDefault& value : kVideoDefaults) key.Write(value.name, value.value);
}

void TAudio_Encoder::Set_Bitrate(int x)
{
    Bitrate = x;
    UserKey(kAudioEncoderKey).Write("Bitrate", x);
}

bool TAudio_Encoder::Get_Bitrate() { return UserKey(kAudioEncoderKey).Read("Bitrate", Bitrate); }

void TAudio_Encoder::Resolve_Aerror_settings()
{
    UserKey(kAudioEncoderKey).Write("Bitrate", 128000);
    Bitrate = 128000;
}

void EnsureEncoderDefaults(IPopupPresenter& presenter)
{
    TVideo_Encoder video;
    if (video.Key_Check()) return;
    presenter.ShowWaitNotice("Please wait. Updating settings for current user.", 2000);
    video.Resolve_Verror_settings();
    TAudio_Encoder().Resolve_Aerror_settings();
}

int WholeFrameRate(const std::string& framerateText)
{
    size_t dot = framerateText.find('.');
    if (dot == std::string::npos || dot == 0 || dot > 9) return 30;
    int value = 0;
    for (size_t i = 0; i < dot; ++i) {
        if (framerateText[i] < '0' || framerateText[i] > '9') return 30;
        value = value * 10 + (framerateText[i] - '0');
    }
    return value;
}
