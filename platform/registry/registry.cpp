// The Win32 registry calls over the hive files. A handle names a hive and a key path; every
// call reads the hive afresh under its lock, so handles see other processes' changes.
#include "registry.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "hivefile.h"

struct HKEY__ {
    registry::Hive hive;
    std::vector<std::string> path;
    // Set when this process deletes the key (or a key above it): the handle then answers
    // ERROR_KEY_DELETED even after a key of the same path is created again, as on Windows.
    std::atomic<bool> deleted{false};
};

namespace {

using registry::Hive;
using registry::RegKey;
using registry::RegValue;

HKEY__ classesRoot{Hive::ClassesRoot, {}};
HKEY__ currentUser{Hive::CurrentUser, {}};

// Handles handed out and not yet closed; anything else is refused rather than dereferenced.
struct OpenHandles {
    std::mutex lock;
    std::unordered_set<HKEY> handles;
};

OpenHandles& Handles()
{
    static OpenHandles handles;
    return handles;
}

bool IsValid(HKEY key)
{
    if (key == &classesRoot || key == &currentUser) return true;
    OpenHandles& open = Handles();
    std::lock_guard guard(open.lock);
    return key && open.handles.count(key);
}

HKEY NewHandle(Hive hive, std::vector<std::string> path)
{
    HKEY key = new HKEY__{hive, std::move(path), {}};
    OpenHandles& open = Handles();
    std::lock_guard guard(open.lock);
    open.handles.insert(key);
    return key;
}

bool HasControlBytes(std::string_view name)
{
    return std::any_of(name.begin(), name.end(), [](char c) { return uint8_t(c) < 0x20 || c == 0x7F; });
}

// Splits "a\b\c" (a leading "\" ignored) into names; false for empty or unstorable names.
bool SplitPath(const char* subKey, std::vector<std::string>& names)
{
    std::string_view path = subKey ? subKey : "";
    if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty()) {
        size_t end = path.find('\\');
        std::string_view name = path.substr(0, end);
        if (name.empty() || name.size() > registry::kMaxKeyNameLength || HasControlBytes(name)) return false;
        names.emplace_back(name);
        if (names.size() > registry::kMaxDepth) return false;
        path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
        if (end != std::string_view::npos && path.empty()) return false;
    }
    return true;
}

std::string_view ValueName(const char* name) { return name ? name : ""; }

bool ValidValueName(std::string_view name)
{
    return name.size() <= registry::kMaxValueNameLength && !HasControlBytes(name);
}

// Marks the open handles of `hive` at `path` or below it as deleted.
void MarkDeleted(Hive hive, const std::vector<std::string>& path)
{
    OpenHandles& open = Handles();
    std::lock_guard guard(open.lock);
    for (HKEY key : open.handles) {
        if (key->hive != hive || key->path.size() < path.size()) continue;
        if (std::equal(path.begin(), path.end(), key->path.begin(),
                       [](const std::string& a, const std::string& b) { return registry::NamesEqual(a, b); }))
            key->deleted = true;
    }
}

// Reads the hive and runs `use` on the handle's key. A handle whose key was deleted (by this
// process, or by another one while it stays gone) gives ERROR_KEY_DELETED.
template <class Use>
LSTATUS WithKey(HKEY key, registry::Access access, Use use)
{
    if (!IsValid(key)) return ERROR_INVALID_HANDLE;
    if (key->deleted) return ERROR_KEY_DELETED;
    return registry::AccessHive(key->hive, access, [&](RegKey& root, bool& changed) -> LONG {
        RegKey* found = root.Find(key->path);
        return found ? use(*found, changed) : ERROR_KEY_DELETED;
    });
}

constexpr registry::Access kRead = registry::Access::Read;
constexpr registry::Access kWrite = registry::Access::ReadWrite;

// Windows' rule for variable-size results: a null buffer asks for the size, a short one
// gets ERROR_MORE_DATA and the size.
LSTATUS CopyData(const std::vector<uint8_t>& data, BYTE* out, DWORD* size)
{
    if (!size) return out ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD available = *size;
    *size = DWORD(data.size());
    if (!out) return ERROR_SUCCESS;
    if (available < data.size()) return ERROR_MORE_DATA;
    if (!data.empty()) std::memcpy(out, data.data(), data.size());
    return ERROR_SUCCESS;
}

// Names: the length in characters excluding the NUL comes back; the buffer must hold the NUL.
LSTATUS CopyName(const std::string& name, char* out, DWORD* length)
{
    if (!out || !length) return ERROR_INVALID_PARAMETER;
    if (*length <= name.size()) return ERROR_MORE_DATA;
    std::memcpy(out, name.c_str(), name.size() + 1);
    *length = DWORD(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &classesRoot;
const HKEY HKEY_CURRENT_USER = &currentUser;

LSTATUS RegCreateKeyEx(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM, void*, HKEY* result,
                       DWORD* disposition)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<std::string> names;
    if (!SplitPath(subKey, names)) return ERROR_INVALID_PARAMETER;
    if (!IsValid(key)) return ERROR_INVALID_HANDLE;
    if (key->path.size() + names.size() > registry::kMaxDepth) return ERROR_INVALID_PARAMETER;
    bool createdAny = false;
    LSTATUS status = WithKey(key, kWrite, [&](RegKey& base, bool& changed) -> LONG {
        RegKey* at = &base;
        for (const std::string& name : names) {
            bool created = false;
            at = &at->AddSubkey(name, &created);
            createdAny |= created;
        }
        changed = createdAny;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS) return status;
    std::vector<std::string> path = key->path;
    path.insert(path.end(), names.begin(), names.end());
    *result = NewHandle(key->hive, std::move(path));
    if (disposition) *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyEx(HKEY key, const char* subKey, DWORD, REGSAM, HKEY* result)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<std::string> names;
    if (!SplitPath(subKey, names)) return ERROR_FILE_NOT_FOUND;
    LSTATUS status = WithKey(key, kRead, [&](RegKey& base, bool&) -> LONG {
        return base.Find(names) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (status != ERROR_SUCCESS) return status;
    std::vector<std::string> path = key->path;
    path.insert(path.end(), names.begin(), names.end());
    *result = NewHandle(key->hive, std::move(path));
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key)
{
    if (key == &classesRoot || key == &currentUser) return ERROR_SUCCESS;
    {
        OpenHandles& open = Handles();
        std::lock_guard guard(open.lock);
        if (!key || !open.handles.erase(key)) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueEx(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    std::string_view name = ValueName(valueName);
    if (!ValidValueName(name) || (!data && size) || size > registry::kMaxValueSize) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> bytes(data, data + size);
    return WithKey(key, kWrite, [&](RegKey& found, bool& changed) -> LONG {
        found.SetValue(name, type, std::move(bytes));
        changed = true;
        return ERROR_SUCCESS;
    });
}

LSTATUS RegQueryValueEx(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    std::string_view name = ValueName(valueName);
    return WithKey(key, kRead, [&](RegKey& found, bool&) -> LONG {
        const RegValue* value = found.FindValue(name);
        if (!value) return ERROR_FILE_NOT_FOUND;
        if (type) *type = value->type;
        return CopyData(value->data, data, size);
    });
}

LSTATUS RegDeleteValue(HKEY key, const char* valueName)
{
    std::string_view name = ValueName(valueName);
    return WithKey(key, kWrite, [&](RegKey& found, bool& changed) -> LONG {
        changed = found.RemoveValue(name);
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LSTATUS RegDeleteTree(HKEY key, const char* subKey)
{
    std::vector<std::string> names;
    if (!SplitPath(subKey, names)) return ERROR_FILE_NOT_FOUND;
    LSTATUS status = WithKey(key, kWrite, [&](RegKey& base, bool& changed) -> LONG {
        if (names.empty()) {
            // Without a sub-key the key itself stays and loses its contents.
            changed = !base.values.empty() || !base.subkeys.empty();
            base.values.clear();
            base.subkeys.clear();
            return ERROR_SUCCESS;
        }
        std::vector<std::string> parentPath(names.begin(), names.end() - 1);
        RegKey* parent = base.Find(parentPath);
        changed = parent && parent->RemoveSubkey(names.back());
        return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
    if (status == ERROR_SUCCESS && !names.empty()) {
        std::vector<std::string> path = key->path;
        path.insert(path.end(), names.begin(), names.end());
        MarkDeleted(key->hive, path);
    }
    return status;
}

LSTATUS RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameLength, DWORD*, char* keyClass,
                     DWORD* classLength, void* lastWriteTime)
{
    return WithKey(key, kRead, [&](RegKey& found, bool&) -> LONG {
        if (index >= found.subkeys.size()) return ERROR_NO_MORE_ITEMS;
        LSTATUS status = CopyName(found.subkeys[index].name, name, nameLength);
        if (status != ERROR_SUCCESS) return status;
        if (keyClass && classLength && *classLength) keyClass[0] = 0;
        if (classLength) *classLength = 0;
        if (lastWriteTime) std::memset(lastWriteTime, 0, 8);  // a FILETIME
        return ERROR_SUCCESS;
    });
}

LSTATUS RegEnumValue(HKEY key, DWORD index, char* valueName, DWORD* valueNameLength, DWORD*, DWORD* type, BYTE* data,
                     DWORD* dataLength)
{
    return WithKey(key, kRead, [&](RegKey& found, bool&) -> LONG {
        if (index >= found.values.size()) return ERROR_NO_MORE_ITEMS;
        const RegValue& value = found.values[index];
        LSTATUS status = CopyName(value.name, valueName, valueNameLength);
        if (status != ERROR_SUCCESS) return status;
        if (type) *type = value.type;
        return CopyData(value.data, data, dataLength);
    });
}
