// The command layer against a scripted server: the opening sequence, reply matching, status
// handling, control messages and hostile input.
#include <gtest/gtest.h>

#include <thread>

#include "fake_rtmp_server.h"
#include "message_buffer.h"
#include "rtmp_connection.h"
#include "test_peers.h"

namespace {

using namespace std::chrono_literals;

std::string Text(const amf::AmfObject& values, int index) { return std::string(amf::GetProperty(values, {}, index).text.View()); }
double Number(const amf::AmfObject& values, int index) { return amf::GetProperty(values, {}, index).number; }

std::vector<std::string> MemberNames(const amf::AmfObject& object)
{
    std::vector<std::string> names;
    for (const amf::AmfProperty& member : object.properties) names.emplace_back(member.name.View());
    return names;
}

// A client connection opening a session on a thread while the test plays the server.
struct Session {
    explicit Session(std::chrono::milliseconds waitLimit = 5s) : logPath(MakeTempDir() + "/rtmp.log")
    {
        connection.ParseConnectionString(server.Url("live/@cam"));
        connection.SetLog(std::make_shared<SinkLog>(logPath));
        client = std::thread([this, waitLimit] {
            connected = connection.Connect();
            if (!connected) return;
            RtmpPacket packet;
            connection.WaitForPublish(packet, waitLimit);
        });
    }
    ~Session()
    {
        server.CloseClient();
        if (client.joinable()) client.join();
    }
    void Join() { client.join(); }
    std::string Log() { return ReadTextFile(logPath); }

    // Reads connect and answers it; returns after the client's createStream.
    void OpenUntilCreateStream()
    {
        ASSERT_TRUE(server.Accept());
        ASSERT_TRUE(server.ReadCommand(packet, values));
        ASSERT_EQ(Text(values, 0), "connect");
        server.SendCommand(StatusBody("_result", 1, "NetConnection.Connect.Success"));
        for (const char* name : {"releaseStream", "FCPublish", "createStream"}) {
            ASSERT_TRUE(server.ReadCommand(packet, values));
            ASSERT_EQ(Text(values, 0), name);
        }
    }

    FakeRtmpServer server;
    std::string logPath;
    RTMPConnection connection;
    std::thread client;
    std::atomic<bool> connected{false};
    RtmpPacket packet;
    amf::AmfObject values;
};

}  // namespace

TEST(SessionOpening, CommandsInOrderAndRepliesMatchedByOrder)
{
    Session session;
    ASSERT_TRUE(session.server.Listening());
    FakeRtmpServer& server = session.server;
    RtmpPacket& packet = session.packet;
    amf::AmfObject& values = session.values;
    ASSERT_TRUE(server.Accept());

    ASSERT_TRUE(server.ReadCommand(packet, values));
    EXPECT_EQ(packet.header.chunkStreamId, 3u);
    EXPECT_EQ(Text(values, 0), "connect");
    EXPECT_EQ(Number(values, 1), 1.0);
    const amf::AmfObject& command = amf::GetProperty(values, {}, 2).object;
    EXPECT_EQ(MemberNames(command), (std::vector<std::string>{"app", "tcUrl", "type", "flashVer"}));
    EXPECT_EQ(amf::GetProperty(command, "app").text.View(), "live");
    EXPECT_EQ(amf::GetProperty(command, "tcUrl").text.View(), server.Url("live"));
    EXPECT_EQ(amf::GetProperty(command, "flashVer").text.View(), "FMLE/3.0 (compatible; FMSc/1.0)");

    Bytes window = {0x00, 0x26, 0x25, 0xA0};
    server.Send(RTMP_WINDOW_ACK_SIZE, 2, 0, window);
    server.Send(RTMP_SET_PEER_BANDWIDTH, 2, 0, {0x00, 0x4C, 0x4B, 0x40, 0x02});
    server.SendCommand(StatusBody("_result", 1, "NetConnection.Connect.Success"));

    ASSERT_TRUE(server.Read(packet));
    EXPECT_EQ(packet.header.messageType, RTMP_WINDOW_ACK_SIZE);
    EXPECT_EQ(packet.body, (Bytes{0x00, 0x4C, 0x4B, 0x40}));  // the last window announced
    ASSERT_TRUE(server.Read(packet));
    EXPECT_EQ(packet.header.messageType, RTMP_SET_CHUNK_SIZE);
    EXPECT_EQ(packet.body, (Bytes{0x00, 0x04, 0x00, 0x00}));
    struct Expected {
        const char* name;
        double transaction;
    };
    for (Expected expected : {Expected{"releaseStream", 2}, Expected{"FCPublish", 3}, Expected{"createStream", 4}}) {
        ASSERT_TRUE(server.ReadCommand(packet, values));
        EXPECT_EQ(Text(values, 0), expected.name);
        EXPECT_EQ(Number(values, 1), expected.transaction);
    }
    EXPECT_EQ(Text(values, 3), "");

    // A server that answers releaseStream and FCPublish too: the second reply releases publish.
    server.SendCommand(StatusBody("_result", 2, ""));
    server.SendCommand(StatusBody("_result", 3, ""));
    server.SendCommand(StatusBody("_result", 4, ""));
    ASSERT_TRUE(server.ReadCommand(packet, values));
    EXPECT_EQ(Text(values, 0), "publish");
    EXPECT_EQ(Number(values, 1), 5.0);
    EXPECT_EQ(Text(values, 3), "cam");
    EXPECT_EQ(Text(values, 4), "live");
    EXPECT_EQ(packet.header.chunkStreamId, 4u);
    EXPECT_EQ(packet.header.messageStreamId, 1u);

    // Ping, then a status larger than the default chunk after the server's Set Chunk Size.
    server.Send(RTMP_USER_CONTROL, 2, 0, {0x00, 0x06, 0x12, 0x34, 0x56, 0x78});
    ASSERT_TRUE(server.Read(packet));
    EXPECT_EQ(packet.header.messageType, RTMP_USER_CONTROL);
    EXPECT_EQ(packet.header.chunkStreamId, 2u);
    EXPECT_EQ(packet.body, (Bytes{0x00, 0x07, 0x12, 0x34, 0x56, 0x78}));
    server.SetOutChunkSize(4096);
    server.SendCommand(StatusBody("onStatus", 0, "NetStream.Publish.Start", std::string(300, 'd')));
    session.Join();
    EXPECT_TRUE(session.connection.IsPublished());
    EXPECT_TRUE(session.connection.IsConnected());
    EXPECT_TRUE(session.connection.PendingCalls().empty());
    EXPECT_NE(session.Log().find("] RTMPConnection:: Publish Ok\n"), std::string::npos);

    // Metadata: the fixed members, then the audio and the video ones.
    session.connection.media = {1, 1, 1280, 720, 33, 29};
    ASSERT_TRUE(session.connection.SendMetadata());
    ASSERT_TRUE(server.ReadCommand(packet, values));
    EXPECT_EQ(packet.header.chunkStreamId, 4u);
    EXPECT_EQ(packet.header.messageType, RTMP_DATA_AMF0);
    EXPECT_EQ(Text(values, 0), "@setDataFrame");
    EXPECT_EQ(Text(values, 1), "onMetaData");
    const amf::AmfObject& metadata = amf::GetProperty(values, {}, 2).object;
    EXPECT_EQ(MemberNames(metadata),
              (std::vector<std::string>{"author", "copyright", "description", "keywords", "rating", "title",
                                        "presetname", "hasCuePoints", "canSeekToEnd", "hasKeyframes",
                                        "lasttimestamp", "audiocodecid", "audiosamplerate", "audiosamplesize",
                                        "stereo", "framerate", "width", "height", "videocodecid", "videodatarate"}));
    EXPECT_EQ(amf::GetProperty(metadata, "audiosamplerate").number, 44000.0);
    EXPECT_EQ(amf::GetProperty(metadata, "framerate").number, 29.0);
    session.connection.media = {1, 0, 0, 0, 0, 0};
    ASSERT_TRUE(session.connection.SendMetadata());
    ASSERT_TRUE(server.ReadCommand(packet, values));
    EXPECT_EQ(amf::GetProperty(values, {}, 2).object.Count(), 15u);

    session.connection.Teardown();
    ASSERT_TRUE(server.ReadCommand(packet, values));
    EXPECT_EQ(Text(values, 0), "FCUnpublish");
    EXPECT_EQ(Number(values, 1), 6.0);
    ASSERT_TRUE(server.ReadCommand(packet, values));
    EXPECT_EQ(Text(values, 0), "closeStream");
    ASSERT_TRUE(server.ReadCommand(packet, values));
    EXPECT_EQ(Text(values, 0), "deleteStream");
    EXPECT_EQ(Number(values, 3), 1.0);
}

TEST(SessionStatus, ErrorAndCloseEndTheWaitWithTheSocketClosed)
{
    struct Case {
        const char* command;
        const char* logLine;
    };
    for (Case c : {Case{"_error", "RTMPConnection:: Error"}, Case{"close", "RTMPConnection:: Server Reject"}}) {
        Session session(60s);
        ASSERT_NO_FATAL_FAILURE(session.OpenUntilCreateStream());
        session.server.SendCommand(StatusBody(c.command, 0, "NetStream.Publish.Denied"));
        session.Join();
        EXPECT_FALSE(session.connection.IsConnected()) << c.command;
        EXPECT_FALSE(session.connection.IsPublished()) << c.command;
        EXPECT_NE(session.Log().find(std::string("] ") + c.logLine + "\n"), std::string::npos) << c.command;
    }
}

TEST(SessionStatus, FailureCodesCloseOtherCodesKeepTheSocket)
{
    {
        Session session(60s);
        ASSERT_NO_FATAL_FAILURE(session.OpenUntilCreateStream());
        session.server.SendCommand(StatusBody("onStatus", 0, "NetStream.Failed"));
        session.Join();
        EXPECT_FALSE(session.connection.IsConnected());
        EXPECT_EQ(session.connection.MessageStreamId(), -1);
        EXPECT_NE(session.Log().find("] RTMPConnection:: Publish Ok\n"), std::string::npos);
    }
    {
        Session session(60s);
        ASSERT_NO_FATAL_FAILURE(session.OpenUntilCreateStream());
        session.server.SendCommand(StatusBody("onStatus", 0, "NetStream.Publish.BadName"));
        session.Join();
        EXPECT_TRUE(session.connection.IsConnected());
        EXPECT_TRUE(session.connection.IsPublished());
    }
}

TEST(SessionWait, SilentServerAndDroppedConnectionEndTheWait)
{
    {
        Session session(500ms);
        ASSERT_NO_FATAL_FAILURE(session.OpenUntilCreateStream());
        session.Join();
        EXPECT_TRUE(session.connection.IsConnected());
        EXPECT_FALSE(session.connection.IsPublished());
    }
    {
        Session session(60s);
        ASSERT_NO_FATAL_FAILURE(session.OpenUntilCreateStream());
        session.server.CloseClient();
        session.Join();
        EXPECT_FALSE(session.connection.IsConnected());
    }
}

TEST(SessionWait, HostileServerBytesNeverCrashOrHang)
{
    Session session(2s);
    ASSERT_NO_FATAL_FAILURE(session.OpenUntilCreateStream());
    FakeRtmpServer& server = session.server;
    server.Send(RTMP_SET_CHUNK_SIZE, 2, 0, {0x00, 0x00, 0x00, 0x00});
    server.Send(RTMP_COMMAND_AMF0, 3, 0, {0x02, 0x00, 0x40, 'x'});  // truncated string
    Bytes deep = {0x02, 0x00, 0x01, 'x'};
    for (int i = 0; i < 5000; ++i) deep.insert(deep.end(), {0x03, 0x00, 0x01, 'y'});
    server.Send(RTMP_COMMAND_AMF0, 3, 0, deep);
    server.Send(RTMP_SET_CHUNK_SIZE, 2, 0, {0x7F, 0xFF, 0xFF, 0xFF});
    server.Send(RTMP_USER_CONTROL, 2, 0, {0x00});
    server.Send(RTMP_SET_PEER_BANDWIDTH, 2, 0, {0x00});
    // A 16 MB message header followed by unrelated chunk streams and garbage.
    server.SendRaw({0x05, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x14, 0x00, 0x00, 0x00, 0x00});
    Bytes garbage(20000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 2654435761u >> 13);
    server.SendRaw(garbage);
    session.Join();
    EXPECT_FALSE(session.connection.IsPublished());
}

// In non-blocking mode (after StartStream) a full send buffer is an ordinary moment of a
// real uplink: the write waits for room instead of closing the session.
TEST(SessionWrite, AFullSendBufferIsBackPressureNotAnError)
{
    Session session(60s);
    ASSERT_NO_FATAL_FAILURE(session.OpenUntilCreateStream());
    session.server.SendCommand(StatusBody("onStatus", 0, "NetStream.Publish.Start"));
    session.Join();
    ASSERT_TRUE(session.connection.IsPublished());
    session.connection.SetNonBlocking();

    constexpr uint32_t kSize = 12 << 20;  // more than both sockets' buffers hold
    std::atomic<size_t> received{0};
    std::thread reader([&] {
        std::this_thread::sleep_for(300ms);  // not reading yet: the client's buffer fills
        RtmpPacket packet;
        while (received == 0 && session.server.Read(packet, 30000))
            if (packet.header.messageType == RTMP_VIDEO) received = packet.body.size();
    });
    MessageBuffer message(kSize);
    EXPECT_TRUE(session.connection.SendMediaMessage(RTMP_VIDEO, message.Body(), kSize, 40));
    reader.join();
    EXPECT_EQ(received, kSize);
    EXPECT_TRUE(session.connection.IsConnected());
    EXPECT_EQ(session.Log().find("SocketError"), std::string::npos);
}
