// The login exchange as the window's login button makes it.
#pragma once

#include <memory>
#include <string>

#include "account/authentication.h"

// The account on success; nullptr after printing error_message on stderr.
std::unique_ptr<Tauthentication> Login(const std::string& user, const std::string& password);
