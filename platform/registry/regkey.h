// The in-memory form of a hive: a tree of keys holding typed values. Names compare as Windows
// compares them, upper-cased (beyond ASCII too), and keep the case they were first written in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "../com/wintypes.h"

namespace registry {

// Windows' own limits, also applied to files so that a hostile hive stays bounded.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr size_t kMaxDepth = 512;
constexpr size_t kMaxValueSize = 1 << 20;

bool NamesEqual(std::string_view a, std::string_view b);

struct RegValue {
    std::string name;  // empty for the default value
    DWORD type = 0;
    std::vector<uint8_t> data;
};

struct RegKey {
    std::string name;
    std::vector<RegValue> values;  // in the order they were first written
    std::vector<RegKey> subkeys;   // sorted by upper-cased name, as Windows enumerates

    RegKey* FindSubkey(std::string_view name);
    // Returns the existing sub-key of that name or inserts a new one in sorted position.
    RegKey& AddSubkey(std::string_view name, bool* created = nullptr);
    bool RemoveSubkey(std::string_view name);

    RegValue* FindValue(std::string_view name);
    // Replaces type and data, keeping the stored name's case; appends a new value otherwise.
    void SetValue(std::string_view name, DWORD type, std::vector<uint8_t> data);
    bool RemoveValue(std::string_view name);

    // Follows a path of key names below this key; nullptr when any of them is missing.
    RegKey* Find(const std::vector<std::string>& path);
};

}  // namespace registry
