// Tauthentication: one login exchange with the account service and the channel lists it
// yields. Made for one login attempt; `authenticate` is called once per object.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "../settings/app_config.h"
#include "../settings/program_settings.h"
#include "http_get.h"

class Tauthentication {
public:
    std::string username;
    std::string password;
    std::string server;
    std::string server_type;
    std::string key;
    std::string error_message;
    std::string srvName;
    std::string srvApplication;
    std::string srvInst;
    std::string chat_token;
    std::array<std::string, AppConfig::kServiceHostCount> server_list;
    TprogramSettings settings;  // private instance, used for Log only
    std::vector<std::string> channels;
    std::vector<std::string> streams;
    std::vector<std::string> instances;
    std::vector<std::string> channel_url;
    std::vector<std::string> chats;
    std::vector<std::string> parms;

    explicit Tauthentication(const AppConfig& config, HttpGetFunction httpGet = HttpGet);

    bool authenticate();
    // Reads a reply line (steps after the request); public for tests and fuzzing.
    bool ParseReply(const std::string& firstLine);

private:
    HttpGetFunction httpGet_;
};

// The service's key check: hex pairs to characters, odd positions lowered by 17 and even
// ones by 13. False when the text is not hexadecimal.
bool DecodeServiceKey(const std::string& hex, std::string& decoded);

// The publishing address of the channel at `index`; empty when the lists do not hold it.
std::string StreamAddress(const Tauthentication& account, size_t index);
