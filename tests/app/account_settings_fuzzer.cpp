// Feeds bytes to the two parsers of outside input: the account service's reply line (first
// byte even) and settings.xml (first byte odd).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "account/authentication.h"
#include "settings/program_settings.h"

namespace {

std::string settingsFile;
std::string fuzzRoot;

class SilentPresenter : public IPopupPresenter {
    void ShowMessage(const std::string&, const std::string&) override {}
    bool AskRewrite(const std::string&, const std::string&) override { return false; }
    void ShowWaitNotice(const std::string&, int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/veltro-fuzz-XXXXXX";
    std::string root = mkdtemp(pattern);
    fuzzRoot = root;
    std::atexit([] { std::filesystem::remove_all(fuzzRoot); });
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    std::filesystem::create_directories(root + "/data/Veltro");
    settingsFile = root + "/data/Veltro/settings.xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    SilentPresenter presenter;
    if (data[0] % 2 == 0) {
        Tauthentication account(DefaultAppConfig(), [](const std::string&, std::string&, std::string&) { return false; });
        account.server = "fuzz.test";
        try {
            if (account.ParseReply(text)) {
                for (size_t i = 0; i < account.channels.size(); ++i) {
                    (void)StreamAddress(account, i);
                    (void)account.channel_url.at(i);
                    (void)account.chats.at(i);
                }
            }
        } catch (const std::exception&) {
        }
        return 0;
    }
    std::ofstream(settingsFile, std::ios::binary | std::ios::trunc) << text;
    TprogramSettings settings(&presenter);
    settings.ReadSettings();
    settings.WriteSettings();
    settings.Write_Username_Pass();
    return 0;
}
