#include "recording_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "../settings/folders.h"
#include "../settings/program_settings.h"

namespace {

const std::string kForbiddenCharacters = "!@#$%^&*/:?<>|, ~{}'";

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

RecordingPath SplitRecordingPath(const std::string& path)
{
    size_t slash = path.rfind('/');
    RecordingPath parts;
    parts.folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    parts.name = path.substr(parts.folder.size());
    size_t dot = parts.name.rfind('.');
    parts.extension = dot == std::string::npos ? "" : parts.name.substr(dot);
    return parts;
}

std::string NextNumberedName(const std::string& text)
{
    size_t open = text.find('(');
    if (open == std::string::npos) return text + "(2)";
    size_t close = text.find(')', open);
    if (close == std::string::npos) return text + "(2)";
    std::string inside = text.substr(open + 1, close - open - 1);
    int value = 0;
    if (!ParseDecimalInt(inside, value)) value = 0;
    if (value <= 0) return text + "(2)";
    return text.substr(0, open + 1) + std::to_string(static_cast<long long>(value) + 1) + text.substr(close);
}

void MakeUniqueRecordingName(std::string& file_path_edit, TprogramSettings& settings)
{
    RecordingPath parts;
    do {
        parts = SplitRecordingPath(file_path_edit);
        std::string base = parts.name.substr(0, parts.name.size() - parts.extension.size());
        parts.name = NextNumberedName(base) + ".mp4";
        file_path_edit = parts.folder + parts.name;
    } while (FileExists(file_path_edit) || FolderExists(file_path_edit));
    settings.File_path = parts.folder;
    settings.File_name = parts.name;
}

bool ValidateRecordingFile(std::string& file_path_edit, TprogramSettings& settings, int& broadcastFlag)
{
    RecordingPath parts = SplitRecordingPath(file_path_edit);
    if (!FolderExists(parts.folder)) {
        settings.Create_message_popup("Cannot save file in specified directory. Please check filename and directory", "");
        broadcastFlag = 0;
        return false;
    }
    if (parts.name.empty() || parts.name == ".") {
        settings.Create_message_popup("Cannot save file. Please check the filename.", "");
        return false;
    }
    if (parts.name.find_first_of(kForbiddenCharacters) != std::string::npos) {
        settings.Create_message_popup("Cannot save file.The filename cannot contain any of the following characters:\r" +
                                          std::string(28, ' ') + "! @ # $ % ^ & *  / : ? < >  | { } ~ , '",
                                      "");
        return false;
    }
    std::string base = parts.name.substr(0, parts.name.size() - parts.extension.size());
    size_t dot = base.find('.');
    if (dot != std::string::npos) {
        std::string tail = base.substr(dot);
        settings.Create_message_popup("The extention '" + tail + parts.extension + " '" +
                                          " provided in the filename is not supported. Will be changed to .mp4",
                                      "");
        base.erase(dot);
        parts.name = base + parts.extension;
    }
    if (Lower(parts.extension) != ".mp4") {
        settings.Create_message_popup("The extention '" + parts.extension + "'" +
                                          " provided in the filename is not supported. The extention will be changed to mp4",
                                      "");
        parts.name = base + ".mp4";
    }
    // A folder of that name cannot become the file.
    if (FolderExists(parts.folder + parts.name)) {
        settings.Create_message_popup("Cannot save file. Please check the filename.", "");
        return false;
    }
    settings.File_path = parts.folder;
    settings.File_name = parts.name;
    file_path_edit = parts.folder + parts.name;
    if (FileExists(file_path_edit)) MakeUniqueRecordingName(file_path_edit, settings);
    return true;
}

std::string RecordingNameFromDialog(const std::string& chosen)
{
    return chosen.find("mp4") != std::string::npos ? chosen : chosen + ".mp4";
}

void ApplyBrowsedRecordingFile(const std::string& chosen, std::string& file_path_edit, TprogramSettings& settings)
{
    file_path_edit = RecordingNameFromDialog(chosen);
    if (!FileExists(chosen)) return;
    if (settings.Create_rewrite_popup("File exists, overwrite?", chosen))
        std::remove(chosen.c_str());
    else
        MakeUniqueRecordingName(file_path_edit, settings);
}
