#include "regkey.h"

#include <algorithm>

namespace registry {

namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }

bool NameLess(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return uint8_t(Fold(x)) < uint8_t(Fold(y)); });
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Fold(x) == Fold(y); });
}

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
