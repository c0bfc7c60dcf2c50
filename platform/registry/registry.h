// Per-user registry with the Win32 call shapes. Names are UTF-8, compared as Windows compares
// them (upper-cased) and stored in the case first written. Each hive is one `.reg` text file in
// the registry folder ($VELTRO_REGISTRY_DIR, else $XDG_CONFIG_HOME/Veltro/registry), read under
// a shared file lock and replaced whole under an exclusive one on every change, so concurrent
// writers keep each other's values and a crash never leaves a half-written hive.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "../com/wintypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;
using LSTATUS = LONG;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_WRITE_FAULT = 29;
constexpr LSTATUS ERROR_KEY_DELETED = 1018;
constexpr LSTATUS ERROR_NO_SYSTEM_RESOURCES = 1450;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_QWORD = 11;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Sub-key paths use "\" between keys; a leading "\" is ignored. A null or empty value name
// is the key's default value. REG_SZ data are UTF-8 bytes including the terminating NUL.
LSTATUS RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options, REGSAM sam,
                       void* security, HKEY* result, DWORD* disposition);
LSTATUS RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM sam, HKEY* result);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LSTATUS RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LSTATUS RegDeleteValue(HKEY key, const char* valueName);
LSTATUS RegDeleteTree(HKEY key, const char* subKey);
LSTATUS RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD* reserved, char* keyClass,
                     DWORD* classLength, void* lastWriteTime);
LSTATUS RegEnumValue(HKEY key, DWORD index, char* valueName, DWORD* valueNameLength, DWORD* reserved, DWORD* type,
                     BYTE* data, DWORD* dataLength);

namespace registry {

// Where the registry's warnings go (lines of a hive file skipped as unreadable, a file that
// is too large, a change refused for its size): the program sends them to its log. Without a
// handler they go to stderr. Any thread.
void SetWarningHandler(std::function<void(const std::string&)> handler);

// The largest hive file read or written, 64 MiB unless set (0 restores it); for tests.
void SetHiveSizeLimit(size_t bytes);

}  // namespace registry
