// veltro-cli channels: logs in as the window does and lists the account's channels.
#include <cstdio>

#include "cli_options.h"
#include "commands.h"
#include "login.h"

int RunChannels(int argc, char** argv)
{
    CliOptions options;
    std::string error;
    if (!options.Parse(argc, argv, 2, {"user", "password"}, {}, error) || !options.Has("user") ||
        !options.Has("password")) {
        std::fprintf(stderr, "%s\nusage: veltro-cli channels --user U --password P\n",
                     error.empty() ? "--user and --password are needed" : error.c_str());
        return 2;
    }
    std::unique_ptr<Tauthentication> account = Login(*options.Value("user"), *options.Value("password"));
    if (!account) return 1;
    for (size_t i = 0; i < account->channels.size(); ++i)
        std::printf("%zu\t%s\t%s\t%s\t%s\n", i, account->channels[i].c_str(), account->channel_url[i].c_str(),
                    account->chats[i].c_str(), StreamAddress(*account, i).c_str());
    return 0;
}
