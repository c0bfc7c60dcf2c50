// Reads the integer settings that a filter keeps under its per-user registry key.
#pragma once

#include <cstdint>
#include <string>

struct HKEY__;

// Opens HKEY_CURRENT_USER\<keyPath> for reading when constructed. A missing key, a missing
// value or a value that is not a REG_DWORD gives the caller's default, so a filter always
// starts with a complete configuration.
class RegistryDwords {
public:
    explicit RegistryDwords(const std::string& keyPath);
    ~RegistryDwords();
    RegistryDwords(const RegistryDwords&) = delete;
    RegistryDwords& operator=(const RegistryDwords&) = delete;

    int32_t Get(const char* valueName, int32_t fallback) const;

private:
    HKEY__* key_ = nullptr;
};
