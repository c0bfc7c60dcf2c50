// The login panel's side of the account: login and logout, remember-me, the channel choice and
// the addresses the window opens. Main thread only.
#pragma once

#include <functional>
#include <string>

class BroadcastSession;
class TprogramSettings;

// One login attempt. Success keeps the account client in the session, stores the credentials
// when remember-me is on, logs "Login success" and selects the stored channel (the first one when
// Channel_index is -1 or beyond the list). Failure: `error` = the service's message, "Login Error".
bool Login(BroadcastSession& session, const std::string& user, const std::string& password, std::string& error);
// After the first login: audio on, then, 1000 ms later, video on, as the settings have them.
void SourcesAfterLogin(BroadcastSession& session, const std::function<void(int milliseconds)>& wait);
// Refused with a pop-up while a broadcast runs; otherwise forgets the account, logs "Log Out".
bool Logout(BroadcastSession& session);

// Remember-me: on stores nothing yet; off forgets the stored credentials at once.
void RememberOn(TprogramSettings& settings);
void RememberOff(TprogramSettings& settings);

// The user's choice in the channel list; pChannel_url keeps its value when the list lacks it.
void ChannelChange(BroadcastSession& session, int position, std::string& pChannel_url);
// The selected channel's name as its label shows it: 40 characters at most, then "...".
std::string ChannelLabelText(const BroadcastSession& session);
std::string ChannelPageUrl(const BroadcastSession& session);  // empty without one
std::string ChatUrl(const BroadcastSession& session);         // empty without one
// name@host leads to http://host/lostpassword; any other name to the product web site's page.
std::string RecoveryUrl(const std::string& userField, const std::string& webSite);
