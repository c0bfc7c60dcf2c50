// The check for a newer version after login, the installer's download and its start.
//
// The product web site publishes /download/last_version.txt, whose first line is
// "<number>_<name>": a program whose APP_VERSION is below the number offers the update, and on
// Yes downloads /download/<name>, saves it as <name>_setup.run in a fresh private folder under
// the temp folder and starts it with the switches that install silently over APP_PATH; the
// program then ends so that the installer can replace it. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/program_settings.h"

// The window's part: the question, the update panel and its progress display.
class IUpdateView {
public:
    virtual ~IUpdateView() = default;
    // The Yes/Cancel question; true only for Yes.
    virtual bool AskUpdate(const std::string& question) = 0;
    // Brings the update panel to the front.
    virtual void ShowUpdatePanel() = 0;
    // During the transfer: the bar's width (0 to 430) and the percentage label's text. The window
    // repaints here (the download blocks the main thread otherwise); false stops the download
    // (the window was closed meanwhile).
    virtual bool ShowProgress(int barWidth, const std::string& percentText) = 0;
};

enum class UpdateCheck { Accepted, NoUpdate, CouldNotCheck };

// The version file's first line.
struct VersionLine {
    enum Kind { Empty, Unreadable, Usable } kind = Empty;
    int number = 0;
    std::string name;  // the installer's file name on the site
};
// Empty: no line. Unreadable: no "_", no decimal number before it, or a name that is empty or
// not a plain file name ("/", "..", control characters).
VersionLine ReadVersionFile(const std::string& body);

// Progress display for `received` of `expected` bytes: the bar is 430 pixels at completion.
int ProgressBarWidth(int64_t received, int64_t expected);
std::string ProgressPercentText(int64_t received, int64_t expected);

// The installer's switches after its path: silent, no desktop entry, into `appPath`.
std::vector<std::string> InstallerArguments(const std::string& appPath);

class TSoftwareUpdate {
public:
    // `webSite` is the [web] site of veltro.conf: a host (http:// is put in front) or an address
    // beginning with http:// or https://, used as given.
    TSoftwareUpdate(TprogramSettings& settings, IUpdateView& view, const std::string& webSite, int APP_VERSION,
                    const std::string& APP_PATH);

    // The whole step after a successful login. True when the installer runs: end the program.
    bool CheckAfterLogin();

    UpdateCheck CheckForUpdate(std::string& name);
    // True when the installer started.
    bool DownloadAndInstall(const std::string& name);

    int64_t MaxSize = 0;
    std::string installerPath;  // where the last download was saved

private:
    std::string SiteAddress(const std::string& path) const;
    bool SaveInstaller(const std::string& name, const std::string& data);
    bool StartInstaller();

    TprogramSettings& settings_;
    IUpdateView& view_;
    std::string webSite_;
    int appVersion_;
    std::string appPath_;
};
