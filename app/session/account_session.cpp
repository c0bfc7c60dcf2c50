#include "account_session.h"

#include "broadcast_session.h"

namespace {

const std::string* ChannelEntry(const BroadcastSession& session, const std::vector<std::string> Tauthentication::*list)
{
    if (!session.authentication || session.channelPosition < 0) return nullptr;
    const std::vector<std::string>& entries = (*session.authentication).*list;
    return size_t(session.channelPosition) < entries.size() ? &entries[session.channelPosition] : nullptr;
}

}  // namespace

bool Login(BroadcastSession& session, const std::string& user, const std::string& password, std::string& error)
{
    TprogramSettings& settings = session.settings;
    auto account = std::make_unique<Tauthentication>(LoadAppConfig());
    account->username = user;
    account->password = password;
    if (!account->authenticate()) {
        error = account->error_message;
        settings.Log("Login Error");
        return false;
    }
    session.authentication = std::move(account);
    if (settings.remember == 1) {
        settings.username = user;
        settings.password = password;
        settings.Write_Username_Pass();
    }
    settings.Log("Login success");
    const int count = int(session.authentication->channels.size());
    const int stored = settings.Channel_index;
    session.channelPosition = count == 0 ? -1 : stored >= 0 && stored < count ? stored : 0;
    return true;
}

void SourcesAfterLogin(BroadcastSession& session, const std::function<void(int milliseconds)>& wait)
{
    if (session.settings.AudioSource == 1 && !session.state.audioOn) session.SwitchAudioOn();
    if (session.settings.VideoSource == 1 && !session.state.videoOn) {
        wait(1000);
        session.SwitchVideoOn();
    }
}

bool Logout(BroadcastSession& session)
{
    if (session.state.isStreaming) {
        session.settings.Create_message_popup("You cannot logout while streaming. Please Stop the stream first.", "");
        return false;
    }
    session.authentication.reset();
    session.settings.Log("Log Out");
    session.state.status = "Idle";
    session.state.statusRed = false;
    return true;
}

void RememberOn(TprogramSettings& settings) { settings.remember = 1; }

void RememberOff(TprogramSettings& settings)
{
    settings.remember = 0;
    settings.username.clear();
    settings.password.clear();
    settings.Write_Username_Pass();
}

void ChannelChange(BroadcastSession& session, int position, std::string& pChannel_url)
{
    session.channelPosition = position;
    if (const std::string* page = ChannelEntry(session, &Tauthentication::channel_url)) pChannel_url = *page;
    session.settings.Channel_index = position;
}

std::string ChannelLabelText(const BroadcastSession& session)
{
    const std::string* name = ChannelEntry(session, &Tauthentication::channels);
    if (!name) return "";
    return name->size() > 40 ? name->substr(0, 40) + "..." : *name;
}

std::string ChannelPageUrl(const BroadcastSession& session)
{
    const std::string* page = ChannelEntry(session, &Tauthentication::channel_url);
    return page ? *page : "";
}

std::string ChatUrl(const BroadcastSession& session)
{
    const std::string* chat = ChannelEntry(session, &Tauthentication::chats);
    return chat ? *chat : "";
}

std::string RecoveryUrl(const std::string& userField, const std::string& webSite)
{
    const size_t at = userField.find('@');
    return "http://" + (at != std::string::npos ? userField.substr(at + 1) : webSite) + "/lostpassword";
}
