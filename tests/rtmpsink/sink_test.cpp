// The sink filter as the program uses it: pins, control interface, log, registration,
// and a server that drops the connection while the graph runs.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <future>
#include <thread>

#include "dshow/uuids.h"
#include "fake_rtmp_server.h"
#include "registry/registry.h"
#include "sink_harness.h"
#include "test_peers.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> LogMessages(const std::string& text)
{
    std::vector<std::string> messages;
    size_t at = 0;
    while ((at = text.find("] ", at)) != std::string::npos) {
        size_t end = text.find('\n', at);
        messages.push_back(text.substr(at + 2, end - at - 2));
        at = end;
    }
    return messages;
}

const EncodedStreams& Streams()
{
    static EncodedStreams streams = [] {
        std::string file = MakeTempDir() + "/source.flv";
        RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i "
                   "sine=frequency=440:sample_rate=44100 -t 8 -c:v libx264 -preset veryfast -bf 2 -g 25 "
                   "-pix_fmt yuv420p -c:a aac -b:a 96k -ac 2 -f flv '" + file + "'");
        return ReadFlvFile(file);
    }();
    return streams;
}

// The same streams with every picture padded by a filler NAL unit to about 8 Mbit/s, enough
// to fill the socket buffers of a connection whose server stopped reading.
const EncodedStreams& BulkyStreams()
{
    static EncodedStreams streams = [] {
        EncodedStreams bulky = Streams();
        for (EncodedUnit& unit : bulky.video) {
            unit.data.insert(unit.data.end(), {0x00, 0x00, 0x01, 0x0C});
            unit.data.insert(unit.data.end(), 40000, 0xFF);
            unit.data.push_back(0x80);
        }
        return bulky;
    }();
    return streams;
}

// Waits until `sink` has made no send for a second: its writes wait for room.
void WaitUntilSendsStall(SinkHarness& sink)
{
    uint64_t last = ~0ull;
    for (int i = 0; i < 60 && sink.Sends() != last; ++i) {
        last = sink.Sends();
        std::this_thread::sleep_for(1s);
    }
}

// Sums the 4-byte NAL lengths of an AVC video body; -1 when they do not tile it exactly.
int64_t NalUnitsIn(const Bytes& body)
{
    int64_t count = 0;
    for (size_t at = 5; at < body.size(); ++count) {
        if (body.size() - at < 4) return -1;
        at += 4 + amf::ReadInt32(body.data() + at);
        if (at > body.size()) return -1;
    }
    return count;
}

}  // namespace

TEST(SinkFilter, PinsControlDefaultsAndLog)
{
    SinkHarness sink;
    ASSERT_TRUE(sink.Control());
    for (int i = 0; i < 2; ++i) {
        PIN_INFO info{};
        ASSERT_TRUE(sink.InputPin(i));
        sink.InputPin(i)->QueryPinInfo(&info);
        EXPECT_EQ(std::u16string(info.achName), u"InPin");
        EXPECT_EQ(info.dir, PINDIR_INPUT);
        if (info.pFilter) info.pFilter->Release();
    }
    EXPECT_EQ(sink.InputPin(2), nullptr);

    CMediaType type;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_AVC1;
    EXPECT_EQ(sink.InputPin(0)->QueryAccept(&type), S_OK);
    type.subtype = MEDIASUBTYPE_YUY2;
    EXPECT_NE(sink.InputPin(0)->QueryAccept(&type), S_OK);
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_RAW_AAC1;
    EXPECT_EQ(sink.InputPin(1)->QueryAccept(&type), S_OK);
    type.subtype = MEDIASUBTYPE_PCM;
    EXPECT_NE(sink.InputPin(1)->QueryAccept(&type), S_OK);

    std::string dir = MakeTempDir();
    std::string folder = dir + "/logs";  // no separator: the file is ".../logsrtmp.log"
    INetworkConnection* control = sink.Control();
    uint8_t state = 7;
    EXPECT_EQ(control->GetConnectionState(&state), 0);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(control->Connect(), 1);  // no address yet
    control->SetLogFolder(folder.c_str());
    EXPECT_EQ(control->Disconnect(), 0);
    std::string refused = "rtmp://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/live/@cam";
    control->SetConnectionString(refused.c_str());
    EXPECT_EQ(control->Connect(), 1);  // nothing listens there
    sink.Filter()->Pause();
    sink.Filter()->Stop();
    EXPECT_EQ(LogMessages(ReadTextFile(dir + "/logsrtmp.log")),
              (std::vector<std::string>{"CFLVMux::Disconnect: OK", "CFLVMux::SetConnectionString",
                                        refused, "RTMPConnection::Connect() Failed",
                                        "CFLVMux::Connect: Connection Error", "CFLVMux::Stop Streaming",
                                        "----------------"}));
}

TEST(SinkFilter, RegistersItsClassUnderClassesRoot)
{
    std::string path = std::string(VELTRO_BIN_DIR) + "/filters/KeshRTMPSink.ax";
    void* library = dlopen(path.c_str(), RTLD_NOW);
    ASSERT_TRUE(library);
    auto reg = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
    auto unreg = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllUnregisterServer"));
    ASSERT_TRUE(reg && unreg);
    ASSERT_EQ(reg(), S_OK);
    const char* key = "CLSID\\{4F53DDC3-94ED-46A4-9FBD-756515287024}";
    char text[4096];
    DWORD size = sizeof text;
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened), ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueEx(opened, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_STREQ(text, "Kesh RTMP Sink");
    RegCloseKey(opened);
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, (std::string(key) + "\\InprocServer32").c_str(), 0, KEY_READ, &opened),
              ERROR_SUCCESS);
    size = sizeof text;
    ASSERT_EQ(RegQueryValueEx(opened, "ThreadingModel", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, "Both");
    size = sizeof text;
    ASSERT_EQ(RegQueryValueEx(opened, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_NE(std::string(text).find("KeshRTMPSink.ax"), std::string::npos);
    RegCloseKey(opened);
    ASSERT_EQ(unreg(), S_OK);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
}

TEST(SinkFilter, DroppedConnectionIsSeenAndANewConnectResumes)
{
    const EncodedStreams& streams = Streams();
    ASSERT_FALSE(streams.video.empty());
    FakeRtmpServer server;
    ASSERT_TRUE(server.Listening());
    std::atomic<bool> dropped{false};
    std::atomic<bool> resumedOk{false};
    std::string failure;
    std::thread script([&] {
        RtmpPacket packet;
        if (!server.AcceptPublisher()) {
            failure = "no first publisher";
            return;
        }
        for (int media = 0; media < 30 && server.Read(packet);)
            media += packet.header.messageType == RTMP_VIDEO;
        server.CloseClient();
        dropped = true;
        if (!server.AcceptPublisher()) {
            failure = "no second publisher";
            return;
        }
        // After the new connection: metadata, the sequence headers, then media from a key frame.
        auto fail = [&](const std::string& what) { failure = what; };
        std::vector<RtmpPacket> messages;
        int videoMessages = 0;
        while (videoMessages < 5 && messages.size() < 400 && server.Read(packet)) {
            videoMessages += packet.header.messageType == RTMP_VIDEO;
            messages.push_back(std::move(packet));
        }
        if (videoMessages < 5) return fail("only " + std::to_string(messages.size()) + " messages");
        if (messages[0].header.messageType != RTMP_DATA_AMF0) return fail("no metadata first");
        const Bytes& video = messages[1].body;
        if (video.size() < 10 || Bytes(video.begin(), video.begin() + 6) != Bytes{0x17, 0, 0, 0, 0, 1})
            return fail("no AVC sequence header");
        const Bytes& audio = messages[2].body;
        Bytes audioHeader = {0xAF, 0x00};
        audioHeader.insert(audioHeader.end(), streams.audioSpecificConfig.begin(), streams.audioSpecificConfig.end());
        if (audio != audioHeader)
            return fail("no AAC sequence header");
        bool keyFrameFirst = false;
        for (size_t i = 3; i < messages.size(); ++i) {
            const RtmpPacket& m = messages[i];
            if (m.header.messageType == RTMP_VIDEO) {
                if (!keyFrameFirst && m.body[0] != 0x17) return fail("first frame is no key frame");
                keyFrameFirst = true;
                if (m.body[1] != 1 || NalUnitsIn(m.body) < 1) return fail("NAL units do not tile the body");
            } else if (m.header.messageType == RTMP_AUDIO && (m.body[0] != 0xAF || m.body[1] != 1)) {
                return fail("bad audio tag");
            }
        }
        resumedOk = keyFrameFirst;
    });

    SinkHarness sink;
    sink.Control()->SetConnectionString(server.Url("live/@cam").c_str());
    ASSERT_EQ(sink.Control()->Connect(), 0);
    EXPECT_EQ(sink.FirstSend(), (std::pair<WPARAM, LPARAM>{1537, 1537}));
    auto* source = new TestSource(&streams.video, AvcMediaType(streams, 320, 240, 400000), &streams.audio,
                                  AacMediaType(streams, 2, 44100), true);
    source->AddRef();
    ASSERT_TRUE(sink.ConnectAndRun(source));

    uint8_t state = 1;
    for (int i = 0; i < 200 && state; ++i) {
        std::this_thread::sleep_for(50ms);
        if (dropped) sink.Control()->GetConnectionState(&state);
    }
    EXPECT_EQ(state, 0);
    EXPECT_EQ(sink.Control()->Disconnect(), 0);
    EXPECT_EQ(sink.Control()->Connect(), 0);
    EXPECT_EQ(sink.Control()->StartStream(), 0);
    script.join();
    EXPECT_TRUE(resumedOk) << failure;
    sink.StopGraph(source);
    sink.Control()->Disconnect();
    source->Release();
}

TEST(SinkFilter, StopAndDisconnectEndAWriteThatAStalledServerHolds)
{
    ASSERT_FALSE(BulkyStreams().video.empty());
    // With an hour's write deadline only an aborted write lets these calls return.
    setenv("VELTRO_RTMP_WRITE_TIMEOUT_MS", "3600000", 1);
    for (bool stopFirst : {true, false}) {
        FakeRtmpServer server(4096);
        std::atomic<bool> release{false};
        std::thread script([&] {
            if (server.AcceptPublisher())
                while (!release) std::this_thread::sleep_for(20ms);
            server.CloseClient();  // resets the connection: a write still waiting fails
        });
        SinkHarness sink;
        sink.Control()->SetConnectionString(server.Url("live/@cam").c_str());
        ASSERT_EQ(sink.Control()->Connect(), 0);
        const EncodedStreams& streams = BulkyStreams();
        auto* source = new TestSource(&streams.video, AvcMediaType(streams, 320, 240, 400000), &streams.audio,
                                      AacMediaType(streams, 2, 44100));
        source->AddRef();
        ASSERT_TRUE(sink.ConnectAndRun(source));
        WaitUntilSendsStall(sink);

        auto call = std::async(std::launch::async, [&] {
            if (stopFirst) sink.Filter()->Stop();
            else sink.Control()->Disconnect();
        });
        bool returned = call.wait_for(60s) == std::future_status::ready;
        release = true;
        call.wait();
        EXPECT_TRUE(returned) << (stopFirst ? "Stop" : "Disconnect") << " waited for the stalled write";
        uint8_t state = 1;
        sink.Control()->GetConnectionState(&state);
        EXPECT_EQ(state, 0);  // the aborted write closed the socket: the program reconnects
        sink.StopGraph(source);
        sink.Control()->Disconnect();
        script.join();
        source->Release();
    }
    unsetenv("VELTRO_RTMP_WRITE_TIMEOUT_MS");
}

// A server that stops reading for a while stands for an uplink narrower than the stream.
TEST(SinkFilter, SlowUplinkDropsVideoToAKeyFrameKeepsAudioAndTheSession)
{
    const EncodedStreams& streams = Streams();
    ASSERT_FALSE(streams.video.empty());
    std::string logDir = MakeTempDir() + "/";
    FakeRtmpServer server(4096);
    std::vector<RtmpPacket> media;
    std::thread script([&] {
        if (!server.AcceptPublisher()) return;
        // Stalled until the sink says it drops video, then reading again until the teardown.
        for (int i = 0; i < 3000 && ReadTextFile(logDir + "rtmp.log").find("uplink too slow") == std::string::npos; ++i)
            std::this_thread::sleep_for(20ms);
        RtmpPacket packet;
        while (server.Read(packet, 30000)) {
            uint8_t type = packet.header.messageType;
            if (type == RTMP_AUDIO || type == RTMP_VIDEO) media.push_back(std::move(packet));
            if (type == RTMP_COMMAND_AMF0 && packet.body.size() > 3 && packet.body[3] == 'F') break;  // FCUnpublish
        }
    });

    SinkHarness sink;
    sink.Control()->SetLogFolder(logDir.c_str());
    sink.Control()->SetConnectionString(server.Url("live/@cam").c_str());
    ASSERT_EQ(sink.Control()->Connect(), 0);
    auto* source = new TestSource(&streams.video, AvcMediaType(streams, 320, 240, 400000), &streams.audio,
                                  AacMediaType(streams, 2, 44100), true);
    source->AddRef();
    ASSERT_TRUE(sink.ConnectAndRun(source));
    sink.WaitUntilSent(source);
    uint8_t state = 0;
    sink.Control()->GetConnectionState(&state);
    EXPECT_EQ(state, 1);
    sink.StopGraph(source);
    sink.Control()->Disconnect();
    script.join();
    source->Release();

    size_t audioFrames = 0, videoFrames = 0;
    bool afterGap = false, resumed = false;
    int64_t lastVideo = -1;
    for (const RtmpPacket& m : media) {
        if (m.body.size() < 2 || m.body[1] == 0) continue;  // sequence headers
        if (m.header.messageType == RTMP_AUDIO) {
            ++audioFrames;
            continue;
        }
        ++videoFrames;
        int64_t at = m.header.timestamp;
        // A gap of more than a frame interval is where video was dropped: it ends at a key frame.
        if (lastVideo >= 0 && at - lastVideo > 80) {
            EXPECT_EQ(m.body[0], 0x17) << "video resumed at " << at << " ms without a key frame";
            afterGap = true;
        }
        resumed = resumed || (afterGap && m.body[0] == 0x17);
        lastVideo = at;
    }
    EXPECT_EQ(audioFrames, streams.audio.size());
    EXPECT_TRUE(resumed);
    std::string log = ReadTextFile(logDir + "rtmp.log");
    size_t dropped = streams.video.size() - videoFrames;
    EXPECT_GT(dropped, 0u);
    EXPECT_NE(log.find("(" + std::to_string(dropped) + " since the filter started)"), std::string::npos) << log;
}
