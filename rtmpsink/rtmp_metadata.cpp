// The @setDataFrame message that starts every stream.
#include <array>
#include <span>
#include <variant>

#include "amf_body.h"
#include "rtmp_connection.h"

namespace {

constexpr uint32_t kMetadataBodyCapacity = 4096 - MessageBuffer::kHeaderRoom;
constexpr uint32_t kStreamChunkStream = 4;

struct MetadataMember {
    std::string_view name;
    std::variant<std::string_view, bool, double> value;
};

constexpr MetadataMember kCommonMembers[] = {
    {"author", std::string_view("Kesh")},
    {"copyright", std::string_view("")},
    {"description", std::string_view("")},
    {"keywords", std::string_view("")},
    {"rating", std::string_view("")},
    {"title", std::string_view("")},
    {"presetname", std::string_view("")},
    {"hasCuePoints", false},
    {"canSeekToEnd", false},
    {"hasKeyframes", true},
    {"lasttimestamp", 0.0},
};

// Announced the same whatever the real rate and channel count.
constexpr MetadataMember kAudioMembers[] = {
    {"audiocodecid", std::string_view("mp4a")},
    {"audiosamplerate", 44000.0},
    {"audiosamplesize", 16.0},
    {"stereo", true},
};

void WriteMembers(AmfBody& body, std::span<const MetadataMember> members)
{
    for (const MetadataMember& member : members) {
        if (auto* text = std::get_if<std::string_view>(&member.value)) body.NamedString(member.name, *text);
        else if (auto* flag = std::get_if<bool>(&member.value)) body.NamedBoolean(member.name, *flag);
        else body.NamedNumber(member.name, std::get<double>(member.value));
    }
}

}  // namespace

bool RTMPConnection::SendMetadata()
{
    const std::array<MetadataMember, 5> videoMembers = {{
        {"framerate", static_cast<double>(media.frameRate)},
        {"width", static_cast<double>(media.width)},
        {"height", static_cast<double>(media.height)},
        {"videocodecid", std::string_view("avc1")},
        {"videodatarate", 0.0},
    }};
    AmfBody body(kMetadataBodyCapacity);
    body.String("@setDataFrame").String("onMetaData").ObjectStart();
    WriteMembers(body, kCommonMembers);
    if (media.hasAudio) WriteMembers(body, kAudioMembers);
    if (media.hasVideo) WriteMembers(body, videoMembers);
    body.ObjectEnd();
    if (body.Size() < 0) return false;

    RtmpHeader header;
    header.headerType = RTMP_HEADER_FULL;
    header.messageType = RTMP_DATA_AMF0;
    header.chunkStreamId = kStreamChunkStream;
    header.messageStreamId = 1;
    header.bodySize = static_cast<uint32_t>(body.Size());
    return SendPacket(header, body.Body(), false);
}
