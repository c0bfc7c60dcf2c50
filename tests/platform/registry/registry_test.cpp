#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
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

    // Beyond ASCII, and in Windows' order of upper-cased names: "[" and "_" after the letters.
    ASSERT_EQ(SetDword(key, "\xC3\x9Cn\xC3\xAFcode", 4), ERROR_SUCCESS);       // Ünïcode
    ASSERT_EQ(SetDword(key, "\xC3\xBCn\xC3\xAFcode", 5), ERROR_SUCCESS);       // ünïcode: the same value
    EXPECT_EQ(GetDword(key, "\xC3\x9CN\xC3\x8FCODE"), 5u);                      // ÜNÏCODE
    EXPECT_EQ(ValueNames(key).back(), "\xC3\x9Cn\xC3\xAFcode");
    HKEY order = Create(key, "Order");
    for (const char* name : {"zeta", "_under", "Apple", "[b", "\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"})
        RegCloseKey(Create(order, name));
    EXPECT_EQ(SubkeyNames(order), (std::vector<std::string>{"Apple", "zeta", "[b", "_under", "\xC3\xA9t\xC3\xA9"}));
    RegCloseKey(order);

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
    // The open handle below the deleted key answers as Windows does, also once a key of the
    // same path exists again: it never writes into the new key.
    EXPECT_EQ(GetDword(key, "Width", ERROR_KEY_DELETED), 0u);
    EXPECT_EQ(SetDword(key, "Width", 1), ERROR_KEY_DELETED);
    HKEY recreated = Create(HKEY_CURRENT_USER, "Software\\Tolvane\\Tolvane Video Scaler\\host");
    EXPECT_EQ(SetDword(key, "Width", 2), ERROR_KEY_DELETED);
    EXPECT_EQ(GetDword(recreated, "Width", ERROR_FILE_NOT_FOUND), 0u);
    RegCloseKey(recreated);
    RegDeleteTree(vendor, "Tolvane Video Scaler");

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

std::vector<std::string> CorruptCopies(const std::filesystem::path& folder)
{
    std::vector<std::string> copies;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename();
        if (name.find(".corrupt-") != std::string::npos) copies.push_back(entry.path());
    }
    return copies;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the usual registry editors export: every form is read, and a read leaves the file alone.
TEST_F(Registry, EditorExportsAreReadWithoutSettingTheFileAside)
{
    const std::string body =
        "[HKEY_CURRENT_USER\\Software\\Gone]\r\n\"x\"=dword:00000001\r\n"
        "[HKEY_CURRENT_USER\\Software\\Enc]\r\n\"Level\"=dword:0000001e\r\n\"Old\"=dword:00000002\r\n"
        "\"Name\"=\"\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xA5\"\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
        "[HKEY_CURRENT_USER\\Software\\Enc]\r\n\"Old\"=-\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char32_t c : std::u32string(U"Windows Registry Editor Version 5.00\r\n\r\n")) utf16 += {char(c), 0};
    std::u16string wide;
    for (size_t i = 0; i < body.size();) {  // UTF-8 to UTF-16
        uint8_t lead = uint8_t(body[i]);
        int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (int k = 1; k < length; ++k) c = c << 6 | (uint8_t(body[i + k]) & 0x3F);
        i += length;
        if (c >= 0x10000) wide += {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + (c & 0x3FF))};
        else wide += char16_t(c);
    }
    for (char16_t unit : wide) utf16 += {char(unit & 0xFF), char(unit >> 8)};

    const std::pair<const char*, std::string> files[] = {
        {"version 5", "Windows Registry Editor Version 5.00\r\n\r\n" + body},
        {"REGEDIT4", "REGEDIT4\r\n\r\n" + body},
        {"UTF-16LE", utf16},
    };
    for (const auto& [form, text] : files) {
        WriteHive(text);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Enc", 0, KEY_READ, &key), ERROR_SUCCESS) << form;
        EXPECT_EQ(GetDword(key, "Level"), 30u) << form;
        EXPECT_EQ(GetDword(key, "Old", ERROR_FILE_NOT_FOUND), 0u) << form;
        char name[32] = {};
        DWORD size = sizeof name;
        EXPECT_EQ(RegQueryValueEx(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size), ERROR_SUCCESS);
        EXPECT_STREQ(name, "\xC3\xA9t\xC3\xA9 \xF0\x9F\x8E\xA5") << form;
        RegCloseKey(key);
        EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Gone", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND) << form;
        EXPECT_EQ(ReadHive(), text) << form;
        EXPECT_TRUE(CorruptCopies(folder_).empty()) << form;
    }
}

TEST_F(Registry, UnreadableLinesAreSkippedWithAWarningAndKeptByAWrite)
{
    std::vector<std::string> warnings;
    registry::SetWarningHandler([&](const std::string& text) { warnings.push_back(text); });
    const std::string file = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=dword:xyz\n"
                             "\"w\"=dword:00000007\n";
    WriteHive(file);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "A", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(GetDword(key, "w"), 7u);
    ASSERT_EQ(warnings.size(), 1u) << "one warning for the file, not one per read";
    EXPECT_NE(warnings[0].find("line 4"), std::string::npos) << warnings[0];
    EXPECT_TRUE(CorruptCopies(folder_).empty()) << "a read never sets the file aside";
    EXPECT_EQ(ReadHive(), file);

    // A write drops the line it could not read; the file as it was stays beside it.
    ASSERT_EQ(SetDword(key, "Fresh", 1), ERROR_SUCCESS);
    std::vector<std::string> copies = CorruptCopies(folder_);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(ReadFile(copies[0]), file);
    EXPECT_EQ(GetDword(key, "w"), 7u);
    EXPECT_EQ(GetDword(key, "Fresh"), 1u);
    RegCloseKey(key);
    registry::SetWarningHandler(nullptr);
}

TEST_F(Registry, AWriteThatWouldPassTheSizeLimitFailsAndKeepsTheFile)
{
    registry::SetWarningHandler([](const std::string&) {});
    registry::SetHiveSizeLimit(8192);
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Big");
    ASSERT_EQ(SetDword(key, "Earlier", 1), ERROR_SUCCESS);
    std::vector<BYTE> blob(1000, 0xAB);
    LSTATUS status = ERROR_SUCCESS;
    int written = 0;
    std::string before;
    for (; status == ERROR_SUCCESS && written < 20; ++written) {
        before = ReadHive();
        status = RegSetValueEx(key, ("blob" + std::to_string(written)).c_str(), 0, REG_BINARY, blob.data(), 1000);
    }
    EXPECT_EQ(status, ERROR_NO_SYSTEM_RESOURCES);
    EXPECT_EQ(ReadHive(), before) << "the refused write left the file as it was";
    EXPECT_LE(ReadHive().size(), 8192u);
    EXPECT_EQ(GetDword(key, "Earlier"), 1u);
    EXPECT_EQ(ValueNames(key).size(), size_t(written));  // "Earlier" and the blobs before the refused one
    EXPECT_TRUE(CorruptCopies(folder_).empty());
    RegCloseKey(key);
    registry::SetHiveSizeLimit(0);
    registry::SetWarningHandler(nullptr);
}

// A registry folder the user cannot write (a read-only home, a shared profile): reads work,
// changes fail with ERROR_ACCESS_DENIED. As root the child gives up its rights first.
TEST_F(Registry, AReadOnlyFolderCanBeRead)
{
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Fixed");
    ASSERT_EQ(SetDword(key, "Level", 30), ERROR_SUCCESS);
    RegCloseKey(key);
    std::filesystem::permissions(root_, std::filesystem::perms(0755));
    std::filesystem::permissions(folder_, std::filesystem::perms(0555));
    std::filesystem::permissions(HivePath(), std::filesystem::perms(0644));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(10);
        HKEY opened = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Fixed", 0, KEY_READ, &opened) != ERROR_SUCCESS) _exit(1);
        DWORD value = 0, size = sizeof value;
        if (RegQueryValueEx(opened, "Level", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            value != 30)
            _exit(2);
        if (SubkeyNames(HKEY_CURRENT_USER) != std::vector<std::string>{"Software"}) _exit(3);
        if (SetDword(opened, "Level", 31) != ERROR_ACCESS_DENIED) _exit(4);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: open, 2: query, 3: enumerate, 4: the write did not fail as denied";
    std::filesystem::permissions(folder_, std::filesystem::perms(0700));
}

TEST_F(Registry, AWriteGoesThroughASymlinkedHiveToItsTarget)
{
    std::filesystem::create_directories(folder_);
    std::filesystem::create_directories(root_ / "elsewhere");
    std::filesystem::create_symlink("../elsewhere/mine.reg", HivePath());
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Linked");
    ASSERT_EQ(SetDword(key, "Level", 30), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(std::filesystem::is_symlink(HivePath()));
    EXPECT_NE(ReadFile(root_ / "elsewhere" / "mine.reg").find("\"Level\"=dword:0000001e"), std::string::npos);
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
