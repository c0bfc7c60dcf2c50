// Loads arbitrary registry values into a parameter container. The first byte picks the mode:
// even = the whole stream as the binary value "SaveToRegistry"; odd = per-value, where the
// rest is a list of (name index, type, length, bytes) records.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_module.h"

namespace {

const char* const kNames[] = {"Width", "Flag", "Method", "Mask", "Ratio", "Source"};
const DWORD kTypes[] = {REG_SZ, REG_BINARY, REG_DWORD, REG_QWORD};

void Prepare()
{
    static bool done = false;
    if (done) return;
    auto dir = std::filesystem::temp_directory_path() / ("scalvo-registry-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("VELTRO_REGISTRY_DIR", dir.c_str(), 1);
    done = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    Prepare();
    const char* path = "Software\\Tolvane\\Fuzz";
    RegDeleteTree(HKEY_CURRENT_USER, path);
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    const bool perValue = data[0] & 1;
    if (!perValue) {
        RegSetValueEx(key, "SaveToRegistry", 0, REG_BINARY, data + 1, DWORD(size - 1));
    } else {
        for (size_t at = 1; at + 3 <= size;) {
            const char* name = kNames[data[at] % 6];
            DWORD type = kTypes[data[at + 1] % 4];
            size_t length = std::min<size_t>(data[at + 2], size - at - 3);
            RegSetValueEx(key, name, 0, type, data + at + 3, DWORD(length));
            at += 3 + length;
        }
    }
    RegCloseKey(key);
    TestOwner* owner = new TestOwner;
    HRESULT hr = owner->module.LoadFromRegistry(HKEY_CURRENT_USER, u"Software\\Tolvane\\Fuzz", perValue);
    if (FAILED(hr) && !owner->module.changeSets.empty()) std::abort();
    owner->Release();
    return 0;
}
