#include "authentication.h"

#include <algorithm>

#include "../settings/program_settings.h"
#include "reply_items.h"
#include "url_codec.h"

namespace {

const char* const kKeyMarker = "K4R2";

std::string DigitsOnly(const std::string& text)
{
    std::string digits;
    for (char c : text)
        if (c >= '0' && c <= '9') digits += c;
    return digits;
}

std::string FirstLine(const std::string& body, bool& hasLine)
{
    hasLine = !body.empty();
    size_t end = body.find_first_of("\r\n");
    return body.substr(0, end);
}

}  // namespace

bool DecodeServiceKey(const std::string& hex, std::string& decoded)
{
    if (hex.size() % 2 != 0) return false;
    decoded.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        int position = int(i / 2) + 1;  // counted from one
        decoded += char(high * 16 + low - (position % 2 == 1 ? 17 : 13));
    }
    return true;
}

Tauthentication::Tauthentication(const AppConfig& config, HttpGetFunction httpGet)
    : server_list(config.serviceHosts), httpGet_(std::move(httpGet))
{
}

bool Tauthentication::authenticate()
{
    server = server_list[0];
    std::string user = username;
    size_t at = username.find('@');
    if (at != std::string::npos) {
        user = username.substr(0, at);
        server = username.substr(at + 1);
        bool known = std::any_of(server_list.begin(), server_list.end(),
                                 [&](const std::string& host) { return !host.empty() && host == server; });
        if (!known) {
            error_message = "Invalid Username or Password.";
            return false;
        }
    }
    if (user.empty() || password.empty() || server.empty()) {
        error_message = "Please Insert Username and Password";
        return false;
    }
    std::string url = "http://" + server + "/services/broadcaster264_auth.php?" + "username=" + EscapeUrlUnsafe(user) +
                      "&password=" + fnstUrlEncodeUTF8(password);
    std::string body, reason;
    if (!httpGet_(url, body, reason)) {
        settings.Log("Error on get data" + reason);
        body.clear();
    }
    bool hasLine = false;
    std::string line = FirstLine(body, hasLine);
    if (!hasLine) {
        error_message = "Please check internet connection";
        return false;
    }
    try {
        return ParseReply(line);
    } catch (const DecodeError& error) {
        error_message = error.what();
        return false;
    }
}

bool Tauthentication::ParseReply(const std::string& firstLine)
{
    ReplyItems reply(firstLine);
    std::string success = reply.Value("success");
    if (success != "true") {
        if (success == "false") {
            if (reply.Count() < 3)
                error_message = "Login failed: the Veltro service gave no reason.";
            else
                error_message = PercentDecode(ReplaceAll(reply.Item(2), '+', ' '));
        }
        return false;
    }
    if (!DecodeServiceKey(reply.Value("key"), key)) {
        error_message = "Please check Veltro service. (The service key is not hexadecimal.)";
        return false;
    }
    if (key.find(kKeyMarker) == std::string::npos) {
        error_message = "Please check Veltro service.";
        return false;
    }
    server_type = reply.Value("server_type");
    const bool wowza = server_type == "wowza";
    for (const std::string& piece : SplitKeepingEmpty(reply.Value("channels"), ','))
        channels.push_back(PercentDecode(piece));
    std::string slugs = reply.Value("slugs");
    if (!slugs.empty())
        for (const std::string& piece : SplitKeepingEmpty(slugs, ','))
            channel_url.push_back("http://" + server + "/channel/" + PercentDecode(piece));
    streams = SplitDroppingEmpty(ReplaceAll(reply.Value("streams"), '+', ' '), ',');
    if (wowza) instances = SplitDroppingEmpty(ReplaceAll(reply.Value("inst"), '+', ' '), ',');
    parms = SplitDroppingEmpty(ReplaceAll(reply.Value("uri"), '+', ' '), '/');
    chat_token = reply.Value("token");

    // Every channel needs its stream (and for wowza its instance) and the server its parts; a
    // channel without a page name gets the page address made from its own name.
    const char* missing = nullptr;
    if (streams.size() < channels.size())
        missing = "fewer stream names than channels";
    else if (wowza && instances.size() < channels.size())
        missing = "fewer instances than channels";
    else if (parms.size() < (wowza ? 2u : 3u))
        missing = "the media server address is incomplete";
    if (missing) {
        error_message = std::string("Please check Veltro service. (") + missing + ")";
        return false;
    }
    srvName = parms[0];
    srvApplication = parms[1];
    if (!wowza) srvInst = parms[2];

    for (size_t i = 0; i < channels.size(); ++i) {
        if (channel_url.size() <= i)
            channel_url.push_back("http://" + server + "/channel/" + ReplaceAll(channels[i], ' ', '-'));
        std::string streamKey = wowza ? instances[i].substr(0, instances[i].find('?')) : streams[i];
        std::string digits = DigitsOnly(streamKey);
        if (chat_token.size() == 32)
            chats.push_back("http://" + server + "/index.php?token=" + chat_token + "&channel_id=" + digits);
        else
            chats.push_back("http://" + server + "/chat/channel/" + digits);
    }
    return true;
}

std::string StreamAddress(const Tauthentication& account, size_t index)
{
    if (index >= account.streams.size()) return "";
    if (account.server_type == "wowza") {
        if (index >= account.instances.size()) return "";
        return "rtmp://" + account.srvName + "/" + account.srvApplication + "/" + account.instances[index] + "/@" +
               account.streams[index];
    }
    return "rtmp://" + account.srvName + "/" + account.srvApplication + "/" + account.srvInst + "/@" +
           account.streams[index];
}
