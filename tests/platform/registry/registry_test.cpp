#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "registry/registry.h"
#include "registry_fixture.h"

namespace {

using Registry = RegistryFolder;

HKEY Create(HKEY root, const char* path, DWORD* disposition = nullptr)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyEx(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                             disposition),
              ERROR_SUCCESS)
        << path;
    return key;
}

LSTATUS SetDword(HKEY key, const char* name, DWORD value)
{
    return RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

DWORD GetDword(HKEY key, const char* name, LSTATUS expected = ERROR_SUCCESS)
{
    DWORD value = 0, type = 0, size = sizeof value;
    EXPECT_EQ(RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), expected) << name;
    if (expected == ERROR_SUCCESS) {
        EXPECT_EQ(type, REG_DWORD);
    }
    return value;
}

// Names from RegEnumValue or RegEnumKeyEx, index by index until ERROR_NO_MORE_ITEMS.
template <class Enumerate>
std::vector<std::string> Names(Enumerate enumerate)
{
    std::vector<std::string> names;
    char name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        LSTATUS status = enumerate(i, name, &length);
        if (status == ERROR_NO_MORE_ITEMS) return names;
        EXPECT_EQ(status, ERROR_SUCCESS);
        names.emplace_back(name, length);
    }
}

std::vector<std::string> ValueNames(HKEY key)
{
    return Names([&](DWORD i, char* name, DWORD* length) {
        return RegEnumValue(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::string> SubkeyNames(HKEY key)
{
    return Names([&](DWORD i, char* name, DWORD* length) {
        return RegEnumKeyEx(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

TEST_F(Registry, ValuesPersistInTheRegFileWithEveryType)
{
    DWORD disposition = 0;
    HKEY key = Create(HKEY_CURRENT_USER, "\\Software\\MONOGRAM\\MONOGRAM x264 Encoder", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(SetDword(key, "Level", 30), ERROR_SUCCESS);
    uint64_t big = 0x1122334455667788ull;
    ASSERT_EQ(RegSetValueEx(key, "Big", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&big), 8), ERROR_SUCCESS);
    const BYTE blob[] = {1, 2, 0xFE};
    ASSERT_EQ(RegSetValueEx(key, "Blob", 0, REG_BINARY, blob, 3), ERROR_SUCCESS);
    const char text[] = "C:\\path \"quoted\" \xC3\xA9";
    ASSERT_EQ(RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
    const char lines[] = "two\nlines";
    ASSERT_EQ(RegSetValueEx(key, "Lines", 0, REG_SZ, reinterpret_cast<const BYTE*>(lines), sizeof lines),
              ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(ReadHive(),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER]\n\n"
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\MONOGRAM]\n\n"
              "[HKEY_CURRENT_USER\\Software\\MONOGRAM\\MONOGRAM x264 Encoder]\n"
              "\"Level\"=dword:0000001e\n"
              "\"Big\"=hex(b):88,77,66,55,44,33,22,11\n"
              "\"Blob\"=hex:01,02,fe\n"
              "@=\"C:\\\\path \\\"quoted\\\" \xC3\xA9\"\n"
              "\"Lines\"=hex(1):74,77,6f,0a,6c,69,6e,65,73,00\n\n");

    // A fresh handle reads everything back from the file.
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\monogram\\monogram X264 encoder", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key, "level"), 30u);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueEx(key, "", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof text);
    char buffer[64];
    size = 4;
    EXPECT_EQ(RegQueryValueEx(key, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof text);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueEx(key, "", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_STREQ(buffer, text);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueEx(key, "LINES", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_STREQ(buffer, lines);
    uint64_t readBig = 0;
    size = 8;
    ASSERT_EQ(RegQueryValueEx(key, "big", nullptr, &type, reinterpret_cast<BYTE*>(&readBig), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_QWORD);
    EXPECT_EQ(readBig, big);
    EXPECT_EQ(GetDword(key, "Missing", ERROR_FILE_NOT_FOUND), 0u);
    RegCloseKey(key);

    // The other hive is a file of its own.
    HKEY classes = Create(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}");
    ASSERT_EQ(SetDword(classes, "Merit", 0x200000), ERROR_SUCCESS);
    RegCloseKey(classes);
    EXPECT_TRUE(std::filesystem::exists(folder_ / "HKCR.reg"));
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "CLSID", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirFirstCase)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Vendor");
    ASSERT_EQ(SetDword(key, "BAdaptive", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "Badaptive", 2), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, "Zeta", 3), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key, "BADAPTIVE"), 2u);
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"BAdaptive", "Zeta"})) << "values keep their first order";

    DWORD disposition = 0;
    HKEY same = Create(HKEY_CURRENT_USER, "SOFTWARE\\vendor", &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(same);
    RegCloseKey(Create(key, "beta"));
    RegCloseKey(Create(key, "Alpha"));
    RegCloseKey(Create(key, "ALPHA\\Inner"));
    RegCloseKey(Create(key, "Gamma"));
    EXPECT_EQ(SubkeyNames(key), (std::vector<std::string>{"Alpha", "beta", "Gamma"})) << "sub-keys sort without case";

    char small[4];
    DWORD length = sizeof small;
    EXPECT_EQ(RegEnumKeyEx(key, 0, small, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(RegDeleteValue(key, "zeta"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(key, "zeta"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, DeleteTreeRemovesKeysAndTheirContents)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Tolvane\\Tolvane Video Scaler\\host");
    ASSERT_EQ(SetDword(key, "Width", 640), ERROR_SUCCESS);
    HKEY vendor = Create(HKEY_CURRENT_USER, "Software\\Tolvane");
    ASSERT_EQ(SetDword(vendor, "Kept", 1), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteTree(vendor, "TOLVANE VIDEO SCALER"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(vendor, "Tolvane Video Scaler"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetDword(vendor, "Kept"), 1u);
    // The open handle below the deleted key now finds nothing.
    EXPECT_EQ(GetDword(key, "Width", ERROR_FILE_NOT_FOUND), 0u);
    EXPECT_EQ(SetDword(key, "Width", 1), ERROR_FILE_NOT_FOUND);

    RegCloseKey(Create(vendor, "Child"));
    EXPECT_EQ(RegDeleteTree(vendor, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(ValueNames(vendor).empty());
    EXPECT_TRUE(SubkeyNames(vendor).empty());
    HKEY again;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tolvane", 0, KEY_READ, &again), ERROR_SUCCESS)
        << "without a sub-key the key itself stays";
    RegCloseKey(again);
    RegCloseKey(vendor);
    RegCloseKey(key);
}

TEST_F(Registry, RefusesBadHandlesAndNames)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Software");
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(key, "x", 1), ERROR_INVALID_HANDLE);
    HKEY result;
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "bad\nname", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                             &result, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetDword(HKEY_CURRENT_USER, "line\nbreak", 1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueEx(HKEY_CURRENT_USER, "x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, UnreadableFileIsKeptAsideAndTheHiveStartsEmpty)
{
    const std::string garbage = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:xyz\n";
    WriteHive(garbage);
    testing::internal::CaptureStderr();
    HKEY key = Create(HKEY_CURRENT_USER, "Software");
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("line 4"), std::string::npos) << report;
    ASSERT_EQ(SetDword(key, "Fresh", 1), ERROR_SUCCESS);
    RegCloseKey(key);

    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        std::string name = entry.path().filename();
        if (name.rfind("HKCU.reg.corrupt-", 0) == 0) {
            ++aside;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            EXPECT_EQ(text.str(), garbage) << "the unreadable file is kept as it was";
        }
    }
    EXPECT_EQ(aside, 1);
    EXPECT_NE(ReadHive().find("\"Fresh\"=dword:00000001"), std::string::npos);
}

// Two processes write their own values into one key at the same time; each must find all of
// its values afterwards, which a lost update would break.
TEST_F(Registry, ConcurrentProcessesKeepEachOthersValues)
{
    constexpr int kWrites = 150;
    auto writeAll = [](const char* prefix) {
        HKEY key = nullptr;
        if (RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                           nullptr) != ERROR_SUCCESS)
            return false;
        for (int i = 0; i < kWrites; ++i) {
            std::string name = prefix + std::to_string(i);
            if (SetDword(key, name.c_str(), DWORD(i)) != ERROR_SUCCESS) return false;
        }
        return RegCloseKey(key) == ERROR_SUCCESS;
    };
    // What a writer that died before its rename would have left.
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / "HKCU.reg.tmp-1-0") << "partial";

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(writeAll("child") ? 0 : 1);
    EXPECT_TRUE(writeAll("parent"));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Shared");
    EXPECT_EQ(ValueNames(key).size(), size_t(2 * kWrites));
    for (int i = 0; i < kWrites; ++i) {
        EXPECT_EQ(GetDword(key, ("parent" + std::to_string(i)).c_str()), DWORD(i));
        EXPECT_EQ(GetDword(key, ("child" + std::to_string(i)).c_str()), DWORD(i));
    }
    RegCloseKey(key);
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path() << " is left";
}

}  // namespace
