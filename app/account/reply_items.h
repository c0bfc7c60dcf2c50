// The account service's reply line: items separated by "&" (a blank also ends an item, a
// double-quoted run stays one item), each item "name=value".
#pragma once

#include <string>
#include <vector>

class ReplyItems {
public:
    explicit ReplyItems(const std::string& line);

    // The value of the first item with this name (letter case ignored); empty when none.
    std::string Value(const std::string& name) const;
    size_t Count() const { return items_.size(); }
    const std::string& Item(size_t index) const { return items_.at(index); }

private:
    std::vector<std::string> items_;
};

// Splits at every `separator`, keeping empty pieces (an empty text gives one empty piece).
std::vector<std::string> SplitKeepingEmpty(const std::string& text, char separator);
// Splits at every `separator`, dropping empty pieces and the blanks that start a piece.
std::vector<std::string> SplitDroppingEmpty(const std::string& text, char separator);
std::string ReplaceAll(std::string text, char from, char to);
