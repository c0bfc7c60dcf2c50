#include "regfile.h"

#include <cstdio>

namespace registry {

namespace {

constexpr DWORD kSz = 1, kBinary = 3, kDword = 4;

// Walks the text line by line; `number` counts from 1 for error messages.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    bool Next(std::string_view& line)
    {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        previous_ = pos_;
        pos_ = end + 1;
        ++number;
        return true;
    }

    // Gives the line last read back, once.
    void Unread()
    {
        pos_ = previous_;
        --number;
    }

    size_t number = 0;

private:
    std::string_view text_;
    size_t pos_ = 0;
    size_t previous_ = 0;
};

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

std::string_view Trim(std::string_view s)
{
    s = TrimLeft(s);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to 8 hex digits, the whole of `s`.
bool ParseHex32(std::string_view s, DWORD& out)
{
    if (s.empty() || s.size() > 8) return false;
    out = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        out = (out << 4) | DWORD(d);
    }
    return true;
}

// A quoted string starting at s[0] == '"' with \\ and \" escapes; `s` is advanced past it.
bool ParseQuoted(std::string_view& s, std::string& out, size_t limit)
{
    out.clear();
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (++i >= s.size() || (s[i] != '\\' && s[i] != '"')) return false;
            c = s[i];
        }
        if (out.size() >= limit) return false;
        out += c;
    }
    return false;
}

class Parser {
public:
    Parser(std::string_view text, std::string_view rootName, RegKey& root) : lines_(text), rootName_(rootName), root_(root) {}

    // Every line that cannot be read is skipped and named in `skipped`.
    void Run(std::vector<std::string>& skipped)
    {
        std::string_view line;
        if (!lines_.Next(line)) return;
        if (line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        // Version 5 files, and REGEDIT4 from older editors (whose text was the system code page,
        // read here as UTF-8 like everything else).
        if (Trim(line) != kRegFileHeader && Trim(line) != "REGEDIT4") {
            skipped.push_back("line 1: no \"" + std::string(kRegFileHeader) + "\" or \"REGEDIT4\" header");
            Line(line, skipped);
        }
        while (lines_.Next(line)) Line(line, skipped);
    }

private:
    void Line(std::string_view line, std::vector<std::string>& skipped)
    {
        size_t number = lines_.number;
        line = TrimLeft(line);
        if (line.empty() || line.front() == ';') return;
        bool parsed = line.front() == '[' ? Section(line) : ValueLine(line);
        if (!parsed) skipped.push_back("line " + std::to_string(number) + ": " + fault_);
    }

    bool Fault(std::string what)
    {
        fault_ = std::move(what);
        return false;
    }

    // "[path]" opens (and creates) a key; "[-path]" deletes a key with everything below it.
    // The values after a line that opens no key are skipped too.
    bool Section(std::string_view line)
    {
        current_ = nullptr;
        line = Trim(line);
        if (line.size() < 2 || line.back() != ']') return Fault("a key line must end with \"]\"");
        std::string_view path = line.substr(1, line.size() - 2);
        bool deletion = !path.empty() && path.front() == '-';
        if (deletion) path.remove_prefix(1);
        if (!NamesEqual(path.substr(0, rootName_.size()), rootName_) ||
            (path.size() > rootName_.size() && path[rootName_.size()] != '\\'))
            return Fault("the key is not under " + std::string(rootName_));
        path.remove_prefix(rootName_.size());
        std::vector<std::string_view> names;
        while (!path.empty()) {
            path.remove_prefix(1);  // the "\" before each name
            size_t end = path.find('\\');
            std::string_view name = path.substr(0, end);
            if (name.empty()) return Fault("empty key name");
            if (name.size() > kMaxKeyNameLength) return Fault("key name longer than 255 bytes");
            if (names.size() >= kMaxDepth) return Fault("keys nested deeper than 512 levels");
            names.push_back(name);
            path = end == std::string_view::npos ? std::string_view() : path.substr(end);
        }
        if (deletion) {
            if (names.empty()) return Fault("the root key cannot be deleted");
            RegKey* parent = &root_;
            for (size_t i = 0; parent && i + 1 < names.size(); ++i) parent = parent->FindSubkey(names[i]);
            if (parent) parent->RemoveSubkey(names.back());
            return true;
        }
        current_ = &root_;
        for (std::string_view name : names) current_ = &current_->AddSubkey(name);
        return true;
    }

    bool ValueLine(std::string_view line)
    {
        if (!current_) return SkipContinuation(line), Fault("a value outside any readable key");
        std::string name;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (line.front() == '"') {
            if (!ParseQuoted(line, name, kMaxValueNameLength)) return Fault("malformed value name");
        } else {
            return Fault("a line must be a key, a value or a comment");
        }
        line = TrimLeft(line);
        if (line.empty() || line.front() != '=') return Fault("\"=\" expected after the value name");
        line = TrimLeft(line.substr(1));
        if (Trim(line) == "-") {  // "name"=- deletes the value
            current_->RemoveValue(name);
            return true;
        }

        DWORD type;
        std::vector<uint8_t> data;
        if (!line.empty() && line.front() == '"') {
            std::string text;
            if (!ParseQuoted(line, text, kMaxValueSize - 1)) return Fault("malformed string data");
            if (!Trim(line).empty()) return Fault("text after the string data");
            type = kSz;
            data.assign(text.begin(), text.end());
            data.push_back(0);
        } else if (line.substr(0, 6) == "dword:") {
            DWORD value;
            if (!ParseHex32(Trim(line.substr(6)), value)) return Fault("dword data must be 1 to 8 hex digits");
            type = kDword;
            for (int i = 0; i < 4; ++i) data.push_back(uint8_t(value >> (8 * i)));
        } else if (line.substr(0, 4) == "hex:" || line.substr(0, 4) == "hex(") {
            line.remove_prefix(3);
            type = kBinary;
            if (line.front() == '(') {
                size_t close = line.find(')');
                if (close == std::string_view::npos || !ParseHex32(line.substr(1, close - 1), type))
                    return Fault("malformed hex(type)");
                line.remove_prefix(close + 1);
            }
            if (line.empty() || line.front() != ':') return Fault("\":\" expected after hex");
            if (!HexBytes(line.substr(1), data)) return false;
        } else {
            return SkipContinuation(line), Fault("unknown data form");
        }
        current_->SetValue(name, type, std::move(data));
        return true;
    }

    // Comma-separated byte pairs; a trailing "\" continues the list on the next line. A list
    // that cannot be read is skipped with all its continuation lines.
    bool HexBytes(std::string_view line, std::vector<uint8_t>& data)
    {
        for (;;) {
            std::string_view rest = Trim(line);
            bool continues = !rest.empty() && rest.back() == '\\';
            if (continues) rest = Trim(rest.substr(0, rest.size() - 1));
            while (!rest.empty()) {
                if (rest.size() < 2 || HexDigit(rest[0]) < 0 || HexDigit(rest[1]) < 0)
                    return SkipContinuation(line), Fault("hex data must be two-digit bytes separated by commas");
                if (data.size() >= kMaxValueSize) return SkipContinuation(line), Fault("value data larger than 1 MiB");
                data.push_back(uint8_t(HexDigit(rest[0]) << 4 | HexDigit(rest[1])));
                rest = TrimLeft(rest.substr(2));
                if (rest.empty()) break;
                if (rest.front() != ',') return SkipContinuation(line), Fault("\",\" expected between hex bytes");
                rest = TrimLeft(rest.substr(1));
                if (rest.empty() && !continues) return Fault("hex data ends with \",\"");
            }
            if (!continues) return true;
            if (!lines_.Next(line)) return Fault("hex data continues past the end of the file");
            // A key, a value or a comment is no continuation: the list was cut short.
            std::string_view next = TrimLeft(line);
            if (!next.empty() && (next.front() == '[' || next.front() == '"' || next.front() == '@' || next.front() == ';')) {
                lines_.Unread();
                return Fault("hex data continues into the next line's entry");
            }
        }
    }

    // Consumes the lines that continue `line` (each ending in "\").
    void SkipContinuation(std::string_view line)
    {
        while (!Trim(line).empty() && Trim(line).back() == '\\' && lines_.Next(line)) {
        }
    }

    LineReader lines_;
    std::string_view rootName_;
    RegKey& root_;
    RegKey* current_ = nullptr;
    std::string fault_;
};

// Text that regedit would write between quotes: printable UTF-8 without control bytes,
// ending in exactly one NUL. Anything else is written as hex(1) bytes.
bool IsPlainString(const std::vector<uint8_t>& data)
{
    if (data.empty() || data.back() != 0) return false;
    for (size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] < 0x20 || data[i] == 0x7F) return false;
    return true;
}

void AppendQuoted(std::string& out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

// Bytes as regedit wraps them: lines of about 80 columns continued with "\".
void AppendHexBytes(std::string& out, const std::vector<uint8_t>& data, size_t column)
{
    char pair[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        out += pair;
        column += 2;
        if (i + 1 == data.size()) break;
        out += ',';
        ++column;
        if (column > 76) {
            out += "\\\n  ";
            column = 2;
        }
    }
}

void AppendValue(std::string& out, const RegValue& value)
{
    size_t lineStart = out.size();
    if (value.name.empty())
        out += '@';
    else
        AppendQuoted(out, value.name);
    out += '=';
    if (value.type == kSz && IsPlainString(value.data)) {
        AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size() - 1));
    } else if (value.type == kDword && value.data.size() == 4) {
        char text[16];
        DWORD v = DWORD(value.data[0]) | DWORD(value.data[1]) << 8 | DWORD(value.data[2]) << 16 | DWORD(value.data[3]) << 24;
        std::snprintf(text, sizeof text, "dword:%08x", v);
        out += text;
    } else {
        char prefix[24];
        if (value.type == kBinary)
            std::snprintf(prefix, sizeof prefix, "hex:");
        else
            std::snprintf(prefix, sizeof prefix, "hex(%x):", value.type);
        out += prefix;
        AppendHexBytes(out, value.data, out.size() - lineStart);
    }
    out += '\n';
}

void AppendKey(std::string& out, const RegKey& key, std::string& path)
{
    out += '[';
    out += path;
    out += "]\n";
    for (const RegValue& value : key.values) AppendValue(out, value);
    out += '\n';
    for (const RegKey& sub : key.subkeys) {
        size_t length = path.size();
        path += '\\';
        path += sub.name;
        AppendKey(out, sub, path);
        path.resize(length);
    }
}

}  // namespace

// UTF-16LE with a byte-order mark, as the usual registry editors export, to UTF-8. A unit
// that is half of no pair becomes U+FFFD; an odd last byte is dropped.
std::string Utf8FromUtf16(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() / 2 + bytes.size() / 4);
    auto unit = [&](size_t i) { return char32_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8); };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void ParseRegFile(std::string_view text, std::string_view rootName, RegKey& root, std::vector<std::string>& skipped)
{
    if (text.substr(0, 2) == "\xFF\xFE") {
        std::string utf8 = Utf8FromUtf16(text.substr(2));
        Parser(utf8, rootName, root).Run(skipped);
        return;
    }
    Parser(text, rootName, root).Run(skipped);
}

std::string FormatRegFile(const RegKey& root, std::string_view rootName)
{
    std::string out(kRegFileHeader);
    out += "\n\n";
    std::string path(rootName);
    AppendKey(out, root, path);
    return out;
}

}  // namespace registry
