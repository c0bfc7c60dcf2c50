#include "account/authentication.h"
#include "account/reply_items.h"
#include "account/url_codec.h"
#include "temp_home.h"

namespace {

// "K4R2" encoded by the service's rule: odd positions +17, even positions +13.
std::string EncodeKey(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        int code = (unsigned char)text[i] + (i % 2 == 0 ? 17 : 13);
        out += hex[code >> 4];
        out += hex[code & 15];
    }
    return out;
}

const std::string kKey = EncodeKey("xxK4R2yy");

class AccountTest : public TempHomeTest {
protected:
    AppConfig config = [] {
        AppConfig c = DefaultAppConfig();
        c.serviceHosts = {"main.test", "b.test", "c.test:8080", "", "", "", "", "", "", "", ""};
        return c;
    }();
    std::vector<std::string> requests;
    std::string reply;
    bool transportOk = true;

    Tauthentication Make()
    {
        return Tauthentication(config, [this](const std::string& url, std::string& body, std::string& error) {
            requests.push_back(url);
            body = reply;
            error = "connection refused";
            return transportOk;
        });
    }
};

TEST(UrlCodec, EncodesLikeAFormValue)
{
    EXPECT_EQ(fnstUrlEncodeUTF8("a b&c"), "a+b%26c");
    EXPECT_EQ(fnstUrlEncodeUTF8("Az09-_.!*~\\()"), "Az09-_.!*~\\()");
    EXPECT_EQ(fnstUrlEncodeUTF8("\xC3\xA9/"), "%c3%a9%2f");
    // User names go in as typed, but for what a URL cannot carry.
    EXPECT_EQ(EscapeUrlUnsafe("an&na.x_1"), "an&na.x_1");
    EXPECT_EQ(EscapeUrlUnsafe("a b#\xC3\xA9"), "a%20b%23%C3%A9");
}

TEST(UrlCodec, DecodesAndRejectsBrokenSequences)
{
    EXPECT_EQ(PercentDecode("Caf%c3%a9+bar"), "Caf\xC3\xA9 bar");
    EXPECT_THROW(PercentDecode("ab%4"), DecodeError);
    EXPECT_THROW(PercentDecode("ab%"), DecodeError);
    try {
        PercentDecode("x%zz");
        FAIL();
    } catch (const DecodeError& error) {
        EXPECT_EQ(std::string(error.what()), "'$zz' is not a valid integer value");
    }
    try {
        PercentDecode("ab%4");
        FAIL();
    } catch (const DecodeError& error) {
        EXPECT_EQ(std::string(error.what()), "decode of string failed: \"ab%4\"");
    }
}

TEST(ReplyItemsTest, SplitsAtAmpersandsBlanksAndKeepsQuotedRuns)
{
    ReplyItems items("success=true&KEY=1 two&\"a b&c\"&x=&");
    ASSERT_EQ(items.Count(), 6u);
    EXPECT_EQ(items.Item(2), "two");
    EXPECT_EQ(items.Item(3), "a b&c");
    EXPECT_EQ(items.Item(5), "");
    EXPECT_EQ(items.Value("key"), "1");
    EXPECT_EQ(items.Value("Success"), "true");
    EXPECT_EQ(items.Value("missing"), "");
    EXPECT_EQ(ReplyItems("a=1&a=2").Value("A"), "1");
}

TEST_F(AccountTest, HostAfterAtMustBeKnownAndCredentialsPresent)
{
    Tauthentication known = Make();
    known.username = "anna@c.test:8080";
    known.password = "p w&1";
    reply = "success=false&x=1&Nope";
    EXPECT_FALSE(known.authenticate());
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "http://c.test:8080/services/broadcaster264_auth.php?username=anna&password=p+w%261");

    Tauthentication unknown = Make();
    unknown.username = "anna@C.test:8080";
    unknown.password = "x";
    EXPECT_FALSE(unknown.authenticate());
    EXPECT_EQ(unknown.error_message, "Invalid Username or Password.");

    Tauthentication empty = Make();
    empty.username = "anna";
    EXPECT_FALSE(empty.authenticate());
    EXPECT_EQ(empty.error_message, "Please Insert Username and Password");
    EXPECT_EQ(requests.size(), 1u);
}

TEST_F(AccountTest, TransportFailureIsLoggedAndReportedAsNoConnection)
{
    transportOk = false;
    Tauthentication account = Make();
    account.username = "anna";
    account.password = "pw";
    EXPECT_FALSE(account.authenticate());
    EXPECT_EQ(account.error_message, "Please check internet connection");
    EXPECT_NE(ReadFile(SettingsFolder() + "log.txt").find("] Error on get dataconnection refused"), std::string::npos);
}

TEST_F(AccountTest, FalseReplyTakesItsThirdItem)
{
    Tauthentication account = Make();
    EXPECT_FALSE(account.ParseReply("success=false&code=7&Wrong+password"));
    EXPECT_EQ(account.error_message, "Wrong password");
    Tauthentication shortReply = Make();
    EXPECT_FALSE(shortReply.ParseReply("success=false&code=7"));
    EXPECT_FALSE(shortReply.error_message.empty());
    Tauthentication other = Make();
    other.error_message = "before";
    EXPECT_FALSE(other.ParseReply("success=maybe&a&b"));
    EXPECT_EQ(other.error_message, "before");
}

TEST_F(AccountTest, ChannelListsPagesAndChats)
{
    Tauthentication account = Make();
    account.server = "main.test";
    std::string token(32, 't');
    ASSERT_TRUE(account.ParseReply("success=true&key=" + kKey +
                                   "&server_type=fms&channels=News,Sport+Live,,Caf%c3%a9"
                                   "&streams=s1,+s2x9,,s3,s44&uri=media.test/live/inst1&token=" + token))
        << account.error_message;
    ASSERT_EQ(account.channels.size(), 4u);
    EXPECT_EQ(account.channels[1], "Sport Live");
    EXPECT_EQ(account.channels[3], "Caf\xC3\xA9");
    EXPECT_EQ(account.channel_url[1], "http://main.test/channel/Sport-Live");
    EXPECT_EQ(account.channel_url[2], "http://main.test/channel/");
    EXPECT_EQ(account.streams[1], "s2x9");
    EXPECT_EQ(account.chats[1], "http://main.test/index.php?token=" + token + "&channel_id=29");
    EXPECT_EQ(StreamAddress(account, 1), "rtmp://media.test/live/inst1/@s2x9");
    EXPECT_EQ(StreamAddress(account, 9), "");

    Tauthentication shortToken = Make();
    shortToken.server = "main.test";
    ASSERT_TRUE(shortToken.ParseReply("success=true&key=" + kKey + "&channels=A&streams=a7&uri=m/app/i&token=" +
                                      std::string(31, 't') + "&slugs=a%20b"));
    EXPECT_EQ(shortToken.chats[0], "http://main.test/chat/channel/7");
    EXPECT_EQ(shortToken.channel_url[0], "http://main.test/channel/a b");

    // Fewer page names than channels: the others get the page address made from their names.
    Tauthentication fewerSlugs = Make();
    fewerSlugs.server = "main.test";
    ASSERT_TRUE(fewerSlugs.ParseReply("success=true&key=" + kKey + "&channels=A,Sport+Live&slugs=a-page&streams=a,b"
                                      "&uri=m/app/i"))
        << fewerSlugs.error_message;
    EXPECT_EQ(fewerSlugs.channel_url,
              (std::vector<std::string>{"http://main.test/channel/a-page", "http://main.test/channel/Sport-Live"}));
}

TEST_F(AccountTest, WowzaUsesChannelInstances)
{
    Tauthentication account = Make();
    account.server = "main.test";
    ASSERT_TRUE(account.ParseReply("success=true&key=" + kKey +
                                   "&server_type=wowza&channels=A&streams=abc&inst=inst123?x=4&uri=m.test/live"));
    EXPECT_EQ(account.chats[0], "http://main.test/chat/channel/123");
    EXPECT_EQ(StreamAddress(account, 0), "rtmp://m.test/live/inst123?x=4/@abc");
    EXPECT_EQ(account.srvInst, "");
    Tauthentication wrongCase = Make();
    ASSERT_TRUE(wrongCase.ParseReply("success=true&key=" + kKey +
                                     "&server_type=Wowza&channels=A&streams=abc&uri=m.test/live/i9"));
    EXPECT_EQ(StreamAddress(wrongCase, 0), "rtmp://m.test/live/i9/@abc");
}

TEST_F(AccountTest, MalformedRepliesFailWithoutReadingPastLists)
{
    const std::string ok = "success=true&key=" + kKey;
    for (const std::string& bad : std::vector<std::string>{
             ok + "&channels=A,B&streams=a&uri=m/app/i",                 // fewer streams
             ok + "&server_type=wowza&channels=A,B&streams=a,b&inst=i&uri=m/app",  // fewer instances
             ok + "&channels=A&streams=a&uri=m/app",                     // no instance part
             ok + "&server_type=wowza&channels=A&streams=a&inst=i&uri=m",  // no application
             std::string("success=true&key=4G&channels=A&streams=a&uri=m/app/i"),  // key not hex
             "success=true&key=" + EncodeKey("K4R3") + "&channels=A&streams=a&uri=m/app/i",
             ok + "&channels=A%2&streams=a&uri=m/app/i",                 // broken escape
         }) {
        Tauthentication account = Make();
        account.username = "u";
        account.password = "p";
        reply = bad + "\r\nsecond line";
        EXPECT_FALSE(account.authenticate()) << bad;
        EXPECT_FALSE(account.error_message.empty()) << bad;
    }
    std::string decoded;
    EXPECT_TRUE(DecodeServiceKey(EncodeKey("aK4R2b"), decoded));
    EXPECT_EQ(decoded, "aK4R2b");
}

}  // namespace
