// veltro.conf: the hosts of the account service and the product web site.
//
//   [account]
//   hosts = host1, host2:8080, ...   (11 hosts in order; the first is the default)
//   [web]
//   site = www.example.com
//
// Looked up as $VELTRO_CONF, then in the settings folder, then beside the executable;
// compiled-in defaults for whatever no file gives.
#pragma once

#include <array>
#include <string>

struct AppConfig {
    static constexpr size_t kServiceHostCount = 11;
    std::array<std::string, kServiceHostCount> serviceHosts;
    std::string webSite;
    std::string sourcePath;  // the file the values came from; empty for the defaults
};

AppConfig DefaultAppConfig();
// Reads one INI text over `config` (keys it does not name keep their values).
void ApplyAppConfigText(const std::string& text, AppConfig& config);
AppConfig LoadAppConfig();
