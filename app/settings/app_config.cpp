#include "app_config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "folders.h"

namespace {

std::string Trim(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

void ApplyHosts(const std::string& list, AppConfig& config)
{
    config.serviceHosts.fill("");
    std::stringstream stream(list);
    std::string host;
    size_t slot = 0;
    while (slot < AppConfig::kServiceHostCount && std::getline(stream, host, ','))
        config.serviceHosts[slot++] = Trim(host);
}

}  // namespace

AppConfig DefaultAppConfig()
{
    return AppConfig{{"veltro.tv", "www.veltro.tv", "live.veltro.tv", "eu.veltro.tv", "us.veltro.tv",
                      "asia.veltro.tv", "beta.veltro.tv", "studio.veltro.tv", "events.veltro.tv",
                      "edu.veltro.tv", "partners.veltro.tv"},
                     "www.veltro.tv",
                     ""};
}

void ApplyAppConfigText(const std::string& text, AppConfig& config)
{
    std::stringstream stream(text);
    std::string line, section;
    while (std::getline(stream, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        if (section == "account" && key == "hosts") ApplyHosts(value, config);
        if (section == "web" && key == "site") config.webSite = value;
    }
}

AppConfig LoadAppConfig()
{
    AppConfig config = DefaultAppConfig();
    const char* named = std::getenv("VELTRO_CONF");
    for (const std::string& path : {std::string(named ? named : ""), SettingsFolderPath() + "veltro.conf",
                                    ExecutableFolderPath() + "veltro.conf"}) {
        if (!FileExists(path)) continue;
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        ApplyAppConfigText(text.str(), config);
        config.sourcePath = path;
        break;
    }
    return config;
}
