#include "software_update.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "account/http_get.h"

extern char** environ;

namespace {

const char kNoConnection[] = "Unable to connect to server in order to check Updates";
const char kNotDownloaded[] = "The new version cannot not be downloaded at this moment.";

bool IsPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find("/") != std::string::npos) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

std::string TempFolder()
{
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool WriteAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

VersionLine ReadVersionFile(const std::string& body)
{
    VersionLine line;
    if (body.empty()) return line;
    std::string first = body.substr(0, body.find('\n'));
    while (!first.empty() && (first.back() == '\r' || first.back() == ' ' || first.back() == '\t')) first.pop_back();
    line.kind = VersionLine::Unreadable;
    const size_t underscore = first.find('_');
    if (underscore == std::string::npos || !ParseDecimalInt(first.substr(0, underscore), line.number)) return line;
    line.name = first.substr(underscore + 1);
    if (IsPlainFileName(line.name)) line.kind = VersionLine::Usable;
    return line;
}

int ProgressBarWidth(int64_t received, int64_t expected)
{
    if (expected <= 0) return 0;
    return int(std::min(received, expected) * 430 / expected);
}

std::string ProgressPercentText(int64_t received, int64_t expected)
{
    const int64_t percent = expected <= 0 ? 0 : std::min(received, expected) * 100 / expected;
    return std::to_string(percent) + " %";
}

std::vector<std::string> InstallerArguments(const std::string& appPath)
{
    return {"/SP-", "/silent", "/noicons", "/dir=" + appPath};
}

TSoftwareUpdate::TSoftwareUpdate(TprogramSettings& settings, IUpdateView& view, const std::string& webSite,
                                 int APP_VERSION, const std::string& APP_PATH)
    : settings_(settings), view_(view), webSite_(webSite), appVersion_(APP_VERSION), appPath_(APP_PATH)
{
    while (!webSite_.empty() && webSite_.back() == '/') webSite_.pop_back();
}

std::string TSoftwareUpdate::SiteAddress(const std::string& path) const
{
    const bool hasScheme = webSite_.rfind("http://", 0) == 0 || webSite_.rfind("https://", 0) == 0;
    return (hasScheme ? "" : "http://") + webSite_ + path;
}

bool TSoftwareUpdate::CheckAfterLogin()
{
    std::string name;
    switch (CheckForUpdate(name)) {
    case UpdateCheck::Accepted: return DownloadAndInstall(name);
    case UpdateCheck::CouldNotCheck: settings_.Create_message_popup(std::string(kNoConnection) + ".", ""); break;
    case UpdateCheck::NoUpdate: break;
    }
    return false;
}

UpdateCheck TSoftwareUpdate::CheckForUpdate(std::string& name)
{
    const HttpResult reply = HttpDownload(SiteAddress("/download/last_version.txt"));
    if (!reply.answered || reply.status != 200) {
        settings_.Log(kNoConnection);
        return UpdateCheck::CouldNotCheck;
    }
    const VersionLine line = ReadVersionFile(reply.body);
    if (line.kind != VersionLine::Usable) {
        settings_.Log("Check Update - exit, no returned value");
        return UpdateCheck::CouldNotCheck;
    }
    if (appVersion_ >= line.number) {
        settings_.Log("Version Check. No updates.");
        return UpdateCheck::NoUpdate;
    }
    if (!view_.AskUpdate("A new version is available. Do you want to update?")) return UpdateCheck::NoUpdate;
    name = line.name;
    view_.ShowUpdatePanel();
    return UpdateCheck::Accepted;
}

bool TSoftwareUpdate::DownloadAndInstall(const std::string& name)
{
    MaxSize = 0;
    const HttpResult download = HttpDownload(SiteAddress("/download/" + name), [this](int64_t expected, int64_t n) {
        if (expected > 0) MaxSize = expected;
        return view_.ShowProgress(ProgressBarWidth(n, MaxSize), ProgressPercentText(n, MaxSize));
    });
    if (!download.answered || download.status != 200 || download.body.empty() || !SaveInstaller(name, download.body)) {
        settings_.Log(kNotDownloaded);
        return false;
    }
    if (StartInstaller()) return true;
    settings_.Log("Cannot run installer. Check permissions.");
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(installerPath).parent_path(), ignored);
    return false;
}

// A folder of our own (mkdtemp: new, mode 0700) so that no other local user can plant or swap
// the file between the save and the start.
bool TSoftwareUpdate::SaveInstaller(const std::string& name, const std::string& data)
{
    std::string folder = TempFolder() + "/veltro-update-XXXXXX";
    if (!mkdtemp(folder.data())) return false;
    installerPath = folder + "/" + name + "_setup.run";
    const int fd = open(installerPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
    const bool saved = fd >= 0 && fchmod(fd, 0700) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    if (!saved) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return saved;
}

// The installer runs in a session of its own with no terminal input, so it outlives this program.
// It replaces the program folder by renaming a new one beside it: when this user cannot write
// there (a system-wide install), starting it would only end the program for nothing.
bool TSoftwareUpdate::StartInstaller()
{
    std::string folder = appPath_;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (access(std::filesystem::path(folder).parent_path().c_str(), W_OK) != 0) return false;

    std::vector<std::string> arguments = InstallerArguments(appPath_);
    arguments.insert(arguments.begin(), installerPath);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    // The installer starts the new program once this one (VELTRO_UPDATE_PID) has ended.
    std::vector<std::string> environment{"VELTRO_UPDATE_PID=" + std::to_string(getpid())};
    for (char** variable = environ; *variable; ++variable)
        if (std::string(*variable).rfind("VELTRO_UPDATE_PID=", 0) != 0) environment.push_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, installerPath.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0;
}
