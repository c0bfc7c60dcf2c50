// TprogramSettings: the broadcaster's persistent choices (settings.xml), the log (log.txt)
// and the two modal pop-up helpers. Owned by the session for the whole run; used on the
// main thread only.
#pragma once

#include <string>

#include "popup_presenter.h"

class TprogramSettings {
public:
    std::string username;
    std::string password;  // plain in memory, hex in the file
    int remember = 0;
    int VideoSource = 0;
    int VideoIndex = 0;
    int VideosizeIndex = 0;
    std::string VideoFormat;
    std::string Framerate;
    int Framerate_half = 0;
    int Hide_Videosizes = 0;
    int AudioSource = 0;
    int AudioIndex = 0;
    int AudioChannels = 0;
    std::string AudioSampleRate;
    int Video_width = 0;
    int Video_height = 0;
    int Output_resize = 0;
    int Resize_width = 0;
    int Resize_height = 0;
    std::string urll;  // publishing address of the current broadcast; never stored
    int Channel_index = 0;
    int Save_file = 0;
    std::string File_name;
    std::string File_path;  // always ends in "/"

    // The presenter stays owned by the caller; without one, messages go to stderr.
    explicit TprogramSettings(IPopupPresenter* presenter = nullptr);

    std::string Get_XML_FolderPath() const;
    std::string Get_XML_file() const;  // empty when the file does not exist
    std::string Get_VIDEO_FolderPath() const;

    void Create_XML_file();
    void ReadSettings();
    void WriteSettings();
    void Write_Username_Pass();
    void Log(const std::string& str);

    void Create_message_popup(const std::string& mess1, const std::string& mess2);
    bool Create_rewrite_popup(const std::string& mess, const std::string& filename);
    IPopupPresenter& Presenter();

private:
    std::string SettingsFilePath() const;
    IPopupPresenter* presenter_;
};

// The file form of a password: every character as two upper-case hex digits when all are up
// to U+00FF; otherwise "W" and each UTF-16 code unit as four digits.
std::string EncodePasswordHex(const std::string& utf8);
// The file form back to text (in the two-digit form an odd last character is ignored); false
// when a character is not a hex digit or the four-digit form is broken.
bool DecodePasswordHex(const std::string& hex, std::string& utf8);

// The value of a hexadecimal digit (either case); -1 for any other character.
int HexDigitValue(char c);

// Decimal integer text that fits in 32 bits: optional sign, digits only.
bool ParseDecimalInt(const std::string& text, int& value);
