// Per-user folders of the program: the settings folder (settings.xml, log.txt, the sink's
// rtmp.log) and the Videos folder that recordings go to by default.
#pragma once

#include <string>

// $XDG_DATA_HOME/Veltro/ (default ~/.local/share/Veltro/), always ending in "/".
// Empty when neither XDG_DATA_HOME nor HOME is set.
std::string SettingsFolderPath();

// The user's Videos folder from the XDG user dirs (XDG_VIDEOS_DIR in
// $XDG_CONFIG_HOME/user-dirs.dirs), else ~/Videos; no trailing separator.
std::string VideosFolderPath();

// Folder of the running executable, ending in "/".
std::string ExecutableFolderPath();

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
