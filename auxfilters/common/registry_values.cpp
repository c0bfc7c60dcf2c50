#include "registry_values.h"

#include "registry/registry.h"

RegistryDwords::RegistryDwords(const std::string& keyPath)
{
    if (RegOpenKeyEx(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
}

RegistryDwords::~RegistryDwords()
{
    if (key_) RegCloseKey(key_);
}

int32_t RegistryDwords::Get(const char* valueName, int32_t fallback) const
{
    if (!key_) return fallback;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueEx(key_, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return fallback;
    return static_cast<int32_t>(value);
}
