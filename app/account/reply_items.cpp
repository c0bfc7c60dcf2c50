#include "reply_items.h"

#include <strings.h>

namespace {

bool IsBlank(char c) { return c >= 1 && c <= ' '; }

}  // namespace

ReplyItems::ReplyItems(const std::string& line)
{
    const char delimiter = '&', quote = '"';
    size_t p = 0, n = line.size();
    auto skipBlanks = [&] {
        while (p < n && IsBlank(line[p])) ++p;
    };
    skipBlanks();
    while (p < n) {
        std::string item;
        if (line[p] == quote) {
            // Quoted run: a doubled quote stands for one quote; ends at the closing quote.
            for (++p; p < n; ++p) {
                if (line[p] != quote) {
                    item += line[p];
                } else if (p + 1 < n && line[p + 1] == quote) {
                    item += quote;
                    ++p;
                } else {
                    ++p;
                    break;
                }
            }
        } else {
            size_t start = p;
            while (p < n && !IsBlank(line[p]) && line[p] != '\0' && line[p] != delimiter) ++p;
            item = line.substr(start, p - start);
        }
        items_.push_back(item);
        skipBlanks();
        if (p < n && line[p] == delimiter) {
            if (p + 1 == n) items_.emplace_back();
            ++p;
            skipBlanks();
        } else if (p < n && line[p] == '\0') {
            break;
        }
    }
}

std::string ReplyItems::Value(const std::string& name) const
{
    for (const std::string& item : items_) {
        size_t equals = item.find('=');
        if (equals == std::string::npos) continue;
        if (equals == name.size() && strncasecmp(item.c_str(), name.c_str(), equals) == 0)
            return item.substr(equals + 1);
    }
    return "";
}

std::vector<std::string> SplitKeepingEmpty(const std::string& text, char separator)
{
    std::vector<std::string> pieces(1);
    for (char c : text) {
        if (c == separator)
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    return pieces;
}

std::vector<std::string> SplitDroppingEmpty(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    for (std::string piece : SplitKeepingEmpty(text, separator)) {
        piece.erase(0, piece.find_first_not_of(' ') == std::string::npos ? piece.size() : piece.find_first_not_of(' '));
        if (!piece.empty()) pieces.push_back(piece);
    }
    return pieces;
}

std::string ReplaceAll(std::string text, char from, char to)
{
    for (char& c : text)
        if (c == from) c = to;
    return text;
}
