// The local recording file: checks and corrections of its name at broadcast start, and the
// numbering that keeps an existing file from being overwritten unasked.
#pragma once

#include <string>

class TprogramSettings;

struct RecordingPath {
    std::string folder;     // up to and including the last "/"
    std::string name;       // the rest
    std::string extension;  // the name's part from its last "." on; empty without a dot
};
RecordingPath SplitRecordingPath(const std::string& path);

// "a" -> "a(2)", "a(9)" -> "a(10)"; a bracket that holds no positive number gets "(2)" appended.
std::string NextNumberedName(const std::string& text);

// Numbers the name in `file_path_edit` until no such file exists; sets File_path and File_name.
void MakeUniqueRecordingName(std::string& file_path_edit, TprogramSettings& settings);

// Checks and corrects `file_path_edit` (messages through the settings' pop-ups); on success
// File_path and File_name hold the file to record to. A missing folder also clears the
// broadcast flag.
bool ValidateRecordingFile(std::string& file_path_edit, TprogramSettings& settings, int& broadcastFlag);

// The save-dialog rule: a chosen name without "mp4" anywhere gets ".mp4" appended.
std::string RecordingNameFromDialog(const std::string& chosen);
// The save dialog's choice into the path field. When the chosen file exists the user is asked:
// Yes deletes it now, No numbers the name.
void ApplyBrowsedRecordingFile(const std::string& chosen, std::string& file_path_edit, TprogramSettings& settings);
