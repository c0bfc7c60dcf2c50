#include "program_settings.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>
#include <stdexcept>

#include "com/variant.h"
#include "registry/registry.h"
#include "folders.h"

namespace {

const char* const kSettingsFile = "settings.xml";
const char* const kLogFile = "log.txt";

// Elements of a new file, in file order, with their default texts (file_path is filled in).
struct DefaultElement {
    const char* name;
    const char* text;
};
const DefaultElement kNewFileElements[] = {
    {"username", ""},          {"password", ""},         {"remember", "0"},
    {"videosource", "1"},      {"videoindex", "0"},      {"video_width", "800"},
    {"video_height", "600"},   {"output_resize", "0"},   {"maintain_ration", "1"},
    {"resize_width", "800"},   {"resize_height", "600"}, {"videoformat", "RGB"},
    {"videosize_index", "0"},  {"video_bitrate", "1024"}, {"hide_videosizes", "1"},
    {"framerate", "30.00"},    {"framerate_half", "0"},  {"audiosource", "1"},
    {"audioindex", "0"},       {"audiochannels", "2"},   {"audiosamplerate", "44100"},
    {"audio_bitrate", "128"},  {"channel_index", "-1"},  {"save_file", "0"},
    {"file_name", "sample.mp4"}, {"file_path", nullptr},
};

class SettingsError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

pugi::xml_node RequireChild(pugi::xml_node parent, const char* name)
{
    pugi::xml_node child = parent.child(name);
    if (!child) throw SettingsError(std::string("element '") + name + "' not found");
    return child;
}

// Loads the file and returns its settings element; throws with the reason.
pugi::xml_node LoadSettingsNode(pugi::xml_document& document, const std::string& path)
{
    pugi::xml_parse_result parsed = document.load_file(path.c_str());
    if (!parsed) throw SettingsError(path + ": " + parsed.description());
    return RequireChild(document.document_element(), "settings");
}

// Replaces the file atomically with a copy readable by its owner only (it holds the password).
void SaveOwnerOnly(const pugi::xml_document& document, const std::string& path)
{
    std::ostringstream text;
    document.save(text, "  ");
    const std::string content = text.str();
    const std::string temporary = path + ".tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw SettingsError(temporary + ": " + std::strerror(errno));
    bool written = fchmod(fd, 0600) == 0 && write(fd, content.data(), content.size()) == ssize_t(content.size()) &&
                   fsync(fd) == 0;
    int savedErrno = errno;
    close(fd);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        if (written) savedErrno = errno;
        unlink(temporary.c_str());
        throw SettingsError(path + ": " + std::strerror(savedErrno));
    }
}

// The settings folder with the data folders above it (a fresh account may not have them yet).
void CreateFolder(const std::string& folder)
{
    if (folder.empty() || FolderExists(folder)) return;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(folder).parent_path().parent_path(), ignored);
    mkdir(folder.c_str(), 0700);
}

// Starts the stored form of a password with a character above U+00FF. It is no hex digit, so
// no password of the two-digit form can start with it.
constexpr char kWidePasswordMark = 'W';

// Code points of UTF-8 text; a byte that starts no valid sequence stands for itself.
std::u32string CodePoints(const std::string& utf8)
{
    std::u32string out;
    size_t i = 0;
    while (i < utf8.size()) {
        unsigned char lead = utf8[i];
        int extra = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 && lead <= 0xEF ? 2 : lead >= 0xC2 && lead <= 0xDF ? 1 : 0;
        char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        bool valid = i + extra < utf8.size();
        for (int k = 1; valid && k <= extra; ++k) {
            unsigned char next = utf8[i + k];
            valid = (next & 0xC0) == 0x80;
            cp = (cp << 6) | (next & 0x3F);
        }
        out += valid ? cp : char32_t(lead);
        i += valid ? extra + 1 : 1;
    }
    return out;
}

}  // namespace

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseDecimalInt(const std::string& text, int& value)
{
    size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size() || text.size() - i > 10) return false;
    long long number = 0;
    for (size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
        number = number * 10 + (text[k] - '0');
    }
    if (text[0] == '-') number = -number;
    if (number < INT32_MIN || number > INT32_MAX) return false;
    value = static_cast<int>(number);
    return true;
}

std::string EncodePasswordHex(const std::string& utf8)
{
    static const char digits[] = "0123456789ABCDEF";
    const std::u32string points = CodePoints(utf8);
    const bool wide = std::any_of(points.begin(), points.end(), [](char32_t cp) { return cp > 0xFF; });
    std::string hex = wide ? std::string(1, kWidePasswordMark) : std::string();
    auto put = [&](unsigned value, int count) {
        for (int shift = 4 * (count - 1); shift >= 0; shift -= 4) hex += digits[(value >> shift) & 15];
    };
    for (char32_t cp : points) {
        if (!wide) {
            put(cp, 2);
        } else if (cp < 0x10000) {
            put(cp, 4);
        } else {
            put(0xD800 + ((cp - 0x10000) >> 10), 4);
            put(0xDC00 + ((cp - 0x10000) & 0x3FF), 4);
        }
    }
    return hex;
}

bool DecodePasswordHex(const std::string& hex, std::string& utf8)
{
    auto value = [&](size_t at, size_t count, unsigned& out) {
        out = 0;
        for (size_t i = at; i < at + count; ++i) {
            int digit = HexDigitValue(hex[i]);
            if (digit < 0) return false;
            out = out * 16 + unsigned(digit);
        }
        return true;
    };
    std::string text;
    unsigned unit = 0;
    if (!hex.empty() && hex[0] == kWidePasswordMark) {
        // UTF-16 code units, four digits each.
        if ((hex.size() - 1) % 4 != 0) return false;
        for (size_t i = 1; i < hex.size(); i += 4) {
            if (!value(i, 4, unit)) return false;
            char32_t cp = unit;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                unsigned low = 0;
                if (i + 8 > hex.size() || !value(i + 4, 4, low) || low < 0xDC00 || low > 0xDFFF) return false;
                cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 4;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                return false;
            }
            AppendUtf8(text, cp);
        }
    } else {
        // Two digits per character up to U+00FF; an odd last character is ignored.
        for (size_t i = 0; i + 1 < hex.size(); i += 2) {
            if (!value(i, 2, unit)) return false;
            AppendUtf8(text, unit);
        }
    }
    utf8 = text;
    return true;
}

TprogramSettings::TprogramSettings(IPopupPresenter* presenter) : presenter_(presenter)
{
    // What the registry has to tell (lines of a hive file it skipped as unreadable, a change
    // refused for its size) belongs in the program's log.
    registry::SetWarningHandler([](const std::string& text) { TprogramSettings().Log(text); });
}

std::string TprogramSettings::Get_XML_FolderPath() const { return SettingsFolderPath(); }

std::string TprogramSettings::SettingsFilePath() const { return Get_XML_FolderPath() + kSettingsFile; }

std::string TprogramSettings::Get_XML_file() const
{
    std::string path = SettingsFilePath();
    return FileExists(path) ? path : "";
}

std::string TprogramSettings::Get_VIDEO_FolderPath() const { return VideosFolderPath(); }

void TprogramSettings::Create_XML_file()
{
    pugi::xml_document document;
    pugi::xml_node node = document.append_child("Veltro").append_child("settings");
    const std::string filePath = Get_VIDEO_FolderPath() + "/";
    for (const DefaultElement& element : kNewFileElements)
        node.append_child(element.name).text().set(element.text ? element.text : filePath.c_str());
    CreateFolder(Get_XML_FolderPath());
    try {
        SaveOwnerOnly(document, SettingsFilePath());
    } catch (const SettingsError& error) {
        Log(std::string("Cannot create XML file: ") + error.what());
    }
}

void TprogramSettings::ReadSettings()
{
    if (Get_XML_file().empty()) {
        Create_XML_file();
        Log("Recreate settings XML file");
    }
    try {
        pugi::xml_document document;
        pugi::xml_node node = LoadSettingsNode(document, SettingsFilePath());
        auto text = [&](const char* name, std::string& field, const char* fallback) {
            pugi::xml_node element = node.child(name);
            field = element ? element.text().get() : fallback;
        };
        auto number = [&](const char* name, int& field, int fallback) {
            pugi::xml_node element = node.child(name);
            if (!element || !ParseDecimalInt(element.text().get(), field)) field = fallback;
        };
        text("username", username, "");
        pugi::xml_node stored = node.child("password");
        if (!stored || !DecodePasswordHex(stored.text().get(), password)) password.clear();
        number("remember", remember, 0);
        number("videosource", VideoSource, 1);
        number("videoindex", VideoIndex, 0);
        text("videoformat", VideoFormat, "RGB");
        number("videosize_index", VideosizeIndex, 0);
        Hide_Videosizes = std::string(RequireChild(node, "hide_videosizes").text().get()) == "1" ? 1 : 0;
        text("framerate", Framerate, "30.00");
        number("framerate_half", Framerate_half, 0);
        number("audiosource", AudioSource, 1);
        number("audioindex", AudioIndex, 0);
        number("audiochannels", AudioChannels, 2);
        text("audiosamplerate", AudioSampleRate, "44100");
        std::string channel = RequireChild(node, "channel_index").text().get();
        if (!ParseDecimalInt(channel, Channel_index))
            throw SettingsError("'" + channel + "' is not a valid integer value");
        number("video_width", Video_width, 800);
        number("video_height", Video_height, 600);
        number("output_resize", Output_resize, 0);
        number("resize_width", Resize_width, 800);
        number("resize_height", Resize_height, 600);
        File_path = RequireChild(node, "file_path").text().get();
        if (File_path.empty()) File_path = Get_VIDEO_FolderPath() + "/";
        File_name = RequireChild(node, "file_name").text().get();
        if (File_name.empty()) File_name = "sample.mp4";
        number("save_file", Save_file, 0);
    } catch (const SettingsError& error) {
        Log(std::string("Cannot load settings: ") + error.what());
    }
}

void TprogramSettings::WriteSettings()
{
    if (Get_XML_file().empty()) return;
    try {
        pugi::xml_document document;
        pugi::xml_node node = LoadSettingsNode(document, SettingsFilePath());
        auto set = [&](const char* name, const std::string& value, bool appendWhenMissing) {
            pugi::xml_node element = node.child(name);
            if (!element && appendWhenMissing) element = node.append_child(name);
            if (!element) throw SettingsError(std::string("element '") + name + "' not found");
            element.text().set(value.c_str());
        };
        using std::to_string;
        set("videosource", to_string(VideoSource), false);
        set("videoindex", to_string(VideoIndex), false);
        set("videoformat", VideoFormat, false);
        set("videosize_index", to_string(VideosizeIndex), false);
        set("video_width", to_string(Video_width), true);
        set("video_height", to_string(Video_height), true);
        set("framerate", Framerate, false);
        set("framerate_half", to_string(Framerate_half), true);
        set("output_resize", to_string(Output_resize), true);
        set("resize_width", to_string(Resize_width), true);
        set("resize_height", to_string(Resize_height), true);
        set("audiosource", to_string(AudioSource), false);
        set("audiochannels", to_string(AudioChannels), false);
        set("audiosamplerate", AudioSampleRate, false);
        set("audioindex", to_string(AudioIndex), false);
        set("save_file", to_string(Save_file), true);
        if (File_path.empty()) File_path = Get_VIDEO_FolderPath() + "/";
        set("file_path", File_path, true);
        set("file_name", File_name, true);
        set("channel_index", to_string(Channel_index), false);
        SaveOwnerOnly(document, SettingsFilePath());
    } catch (const SettingsError& error) {
        Log(std::string("Cannot write  settings: ") + error.what());
    }
}

void TprogramSettings::Write_Username_Pass()
{
    if (Get_XML_file().empty()) return;
    try {
        pugi::xml_document document;
        pugi::xml_node node = LoadSettingsNode(document, SettingsFilePath());
        pugi::xml_node user = RequireChild(node, "username");
        pugi::xml_node pass = RequireChild(node, "password");
        pugi::xml_node flag = RequireChild(node, "remember");
        user.text().set(username.c_str());
        pass.text().set(EncodePasswordHex(password).c_str());
        flag.text().set(std::to_string(remember).c_str());
        SaveOwnerOnly(document, SettingsFilePath());
    } catch (const SettingsError& error) {
        Log(std::string("Cannot write settings: ") + error.what());
    }
}

void TprogramSettings::Log(const std::string& str)
{
    CreateFolder(Get_XML_FolderPath());
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // The user's date and time forms (LC_ALL, LC_TIME, LANG); the C forms when that locale is
    // not installed.
    locale_t user = newlocale(LC_TIME_MASK, "", locale_t(0));
    locale_t forms = user ? user : newlocale(LC_TIME_MASK, "C", locale_t(0));
    char date[64] = "", time[64] = "";
    strftime_l(date, sizeof date, "%x", &local, forms);
    strftime_l(time, sizeof time, "%X", &local, forms);
    if (forms) freelocale(forms);
    std::ofstream file(Get_XML_FolderPath() + kLogFile, std::ios::app | std::ios::binary);
    file << "[" << date << " : " << time << "] " << str << "\r\n";
}

IPopupPresenter& TprogramSettings::Presenter()
{
    static StderrPopupPresenter fallback;
    return presenter_ ? *presenter_ : fallback;
}

void TprogramSettings::Create_message_popup(const std::string& mess1, const std::string& mess2)
{
    Presenter().ShowMessage(mess1, mess2);
}

bool TprogramSettings::Create_rewrite_popup(const std::string& mess, const std::string& filename)
{
    return Presenter().AskRewrite(mess, filename);
}
