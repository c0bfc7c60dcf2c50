#include "folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string WithTrailingSlash(std::string path)
{
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

std::string HomeRelative(const std::string& xdgVariable, const std::string& underHome)
{
    std::string base = Env(xdgVariable.c_str());
    if (!base.empty()) return base;
    std::string home = Env("HOME");
    return home.empty() ? "" : home + "/" + underHome;
}

// user-dirs.dirs holds lines like XDG_VIDEOS_DIR="$HOME/Videos".
std::string VideosFromUserDirs()
{
    std::string configHome = HomeRelative("XDG_CONFIG_HOME", ".config");
    if (configHome.empty()) return "";
    std::ifstream file(configHome + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_VIDEOS_DIR=";
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0) value = Env("HOME") + value.substr(5);
        if (!value.empty() && value[0] == '/') return value;
    }
    return "";
}

}  // namespace

std::string SettingsFolderPath()
{
    std::string dataHome = HomeRelative("XDG_DATA_HOME", ".local/share");
    return dataHome.empty() ? "" : WithTrailingSlash(dataHome) + "Veltro/";
}

std::string VideosFolderPath()
{
    std::string videos = VideosFromUserDirs();
    if (videos.empty()) {
        std::string home = Env("HOME");
        if (home.empty()) return "";
        videos = home + "/Videos";
    }
    while (videos.size() > 1 && videos.back() == '/') videos.pop_back();
    return videos;
}

std::string ExecutableFolderPath()
{
    char buffer[4096];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return "./";
    std::string path(buffer, static_cast<size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FolderExists(const std::string& path)
{
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
