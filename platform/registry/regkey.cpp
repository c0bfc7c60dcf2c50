#include "regkey.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>

namespace registry {

namespace {

// Windows compares key and value names as UTF-16 after upper-casing each code unit with its
// own table, which follows Unicode's simple upper-case mapping. Supplementary characters are
// pairs of surrogate units there and stay as they are.
char16_t UpperUnit(char32_t c)
{
    if (c < 0x80) return char16_t(c >= 'a' && c <= 'z' ? c - 32 : c);
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    if (!unicode) return char16_t(c);
    wint_t upper = towupper_l(wint_t(c), unicode);
    // A mapping into ASCII (dotless i, long s) would make a non-ASCII name equal an ASCII one,
    // which Windows' table does not do.
    return upper < 0x80 || upper > 0xFFFF ? char16_t(c) : char16_t(upper);
}

// Walks a name as the UTF-16 code units Windows compares. Bytes that are not UTF-8 stand for
// themselves as units of their own (0xDC00 + byte), so that distinct names stay distinct.
class FoldedUnits {
public:
    explicit FoldedUnits(std::string_view name) : name_(name) {}

    // The next unit, or -1 at the end.
    int32_t Next()
    {
        if (pendingLow_) {
            char16_t low = pendingLow_;
            pendingLow_ = 0;
            return low;
        }
        if (at_ >= name_.size()) return -1;
        uint8_t lead = uint8_t(name_[at_]);
        if (lead < 0x80) return ++at_, UpperUnit(lead);
        int length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
        char32_t c = length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length > 0 && at_ + size_t(length) <= name_.size();
        for (int i = 1; valid && i < length; ++i) {
            uint8_t next = uint8_t(name_[at_ + size_t(i)]);
            valid = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
        valid = valid && !(length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) &&
                !(length == 4 && (c < 0x10000 || c > 0x10FFFF));
        if (!valid) return ++at_, 0xDC00 + lead;
        at_ += size_t(length);
        if (c <= 0xFFFF) return UpperUnit(c);
        c -= 0x10000;
        pendingLow_ = char16_t(0xDC00 + (c & 0x3FF));
        return 0xD800 + int32_t(c >> 10);
    }

private:
    std::string_view name_;
    size_t at_ = 0;
    char16_t pendingLow_ = 0;
};

// <0, 0 or >0 as Windows orders the names.
int CompareNames(std::string_view a, std::string_view b)
{
    FoldedUnits x(a), y(b);
    for (;;) {
        int32_t u = x.Next(), v = y.Next();
        if (u != v || u < 0) return u - v;
    }
}

bool NameLess(std::string_view a, std::string_view b) { return CompareNames(a, b) < 0; }

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) { return CompareNames(a, b) == 0; }

RegKey* RegKey::FindSubkey(std::string_view key)
{
    auto at = std::lower_bound(subkeys.begin(), subkeys.end(), key,
                               [](const RegKey& k, std::string_view n) { return NameLess(k.name, n); });
    return at != subkeys.end() && NamesEqual(at->name, key) ? &*at : nullptr;
}

RegKey& RegKey::AddSubkey(std::string_view key, bool* created)
{
    auto at = std::lower_bound(subkeys.begin(), subkeys.end(), key,
                               [](const RegKey& k, std::string_view n) { return NameLess(k.name, n); });
    bool found = at != subkeys.end() && NamesEqual(at->name, key);
    if (created) *created = !found;
    if (found) return *at;
    RegKey added;
    added.name = std::string(key);
    return *subkeys.insert(at, std::move(added));
}

bool RegKey::RemoveSubkey(std::string_view key)
{
    RegKey* found = FindSubkey(key);
    if (!found) return false;
    subkeys.erase(subkeys.begin() + (found - subkeys.data()));
    return true;
}

RegValue* RegKey::FindValue(std::string_view value)
{
    auto at = std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return NamesEqual(v.name, value); });
    return at == values.end() ? nullptr : &*at;
}

void RegKey::SetValue(std::string_view value, DWORD type, std::vector<uint8_t> data)
{
    if (RegValue* existing = FindValue(value)) {
        existing->type = type;
        existing->data = std::move(data);
        return;
    }
    values.push_back({std::string(value), type, std::move(data)});
}

bool RegKey::RemoveValue(std::string_view value)
{
    auto at = std::find_if(values.begin(), values.end(), [&](const RegValue& v) { return NamesEqual(v.name, value); });
    if (at == values.end()) return false;
    values.erase(at);
    return true;
}

RegKey* RegKey::Find(const std::vector<std::string>& path)
{
    RegKey* key = this;
    for (const std::string& name : path)
        if (!(key = key->FindSubkey(name))) return nullptr;
    return key;
}

}  // namespace registry
