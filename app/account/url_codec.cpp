#include "url_codec.h"

#include <cctype>
#include <cstring>

#include "../settings/program_settings.h"

std::string fnstUrlEncodeUTF8(const std::string& stInput)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : stInput) {
        if (std::isalnum(c) || (c != 0 && std::strchr("-_.!*~\\()", c))) {
            out += char(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string EscapeUrlUnsafe(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c <= ' ' || c >= 0x7F || std::strchr("\"<>\\^`{|}#", c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string PercentDecode(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] != '%') {
            out += text[i];
        } else if (i + 2 >= text.size()) {
            throw DecodeError("decode of string failed: \"" + text + "\"");
        } else {
            int high = HexDigitValue(text[i + 1]), low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                throw DecodeError("'$" + text.substr(i + 1, 2) + "' is not a valid integer value");
            out += char(high * 16 + low);
            i += 2;
        }
    }
    return out;
}
