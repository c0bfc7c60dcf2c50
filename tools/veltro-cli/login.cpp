#include "login.h"

#include <cstdio>

std::unique_ptr<Tauthentication> Login(const std::string& user, const std::string& password)
{
    auto account = std::make_unique<Tauthentication>(LoadAppConfig());
    account->username = user;
    account->password = password;
    if (!account->authenticate()) {
        std::fprintf(stderr, "%s\n", account->error_message.c_str());
        account->settings.Log("Login Error");
        return nullptr;
    }
    account->settings.Log("Login success");
    return account;
}
