#include <gtest/gtest.h>

#include "registry/regfile.h"

namespace {

using registry::FormatRegFile;
using registry::ParseRegFile;
using registry::RegKey;

constexpr const char* kRoot = "HKEY_CURRENT_USER";

TEST(RegFile, ReadsWhatRegeditWrites)
{
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\Software\\Vendor]\r\n"
        "\"Level\"=dword:0000001E\r\n"
        "@=\"default \\\"text\\\" \\\\ end\"\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  03,  04\r\n"
        "\"Multi\"=hex(7):61,00,00\r\n"
        "\"Empty\"=hex:\r\n"
        "[hkey_current_user\\software\\VENDOR]\r\n"
        "\"level\"=dword:1f\r\n";
    RegKey root;
    std::vector<std::string> skipped;
    ParseRegFile(text, kRoot, root, skipped);
    EXPECT_TRUE(skipped.empty()) << skipped[0];
    RegKey* vendor = root.Find({"software", "vendor"});
    ASSERT_NE(vendor, nullptr);
    EXPECT_EQ(root.subkeys[0].name, "Software");
    ASSERT_EQ(vendor->values.size(), 5u) << "a repeated section adds to the same key";
    EXPECT_EQ(vendor->values[0].name, "Level");
    EXPECT_EQ(vendor->values[0].data, (std::vector<uint8_t>{0x1F, 0, 0, 0}));
    EXPECT_EQ(vendor->values[1].name, "");
    EXPECT_EQ(std::string(vendor->values[1].data.begin(), vendor->values[1].data.end()),
              std::string("default \"text\" \\ end\0", 21));
    EXPECT_EQ(vendor->values[2].data, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(vendor->values[3].type, 7u);
    EXPECT_TRUE(vendor->values[4].data.empty());
}

// A line that cannot be read costs that line (and the values of a key line that cannot be
// read), never the rest of the file.
TEST(RegFile, SkipsUnreadableLinesAndReadsTheRest)
{
    const std::string header = "Windows Registry Editor Version 5.00\n";
    const std::string key = header + "[HKEY_CURRENT_USER\\K]\n";
    const std::string rest = "[HKEY_CURRENT_USER\\Good]\n\"ok\"=dword:1\n";
    const std::pair<std::string, const char*> cases[] = {
        {"", "line 1: no"},
        {header + "\"v\"=dword:1\n", "outside any readable key"},
        {header + "[HKEY_CLASSES_ROOT\\K]\n\"v\"=dword:1\n", "not under"},
        {header + "[HKEY_CURRENT_USERX]\n", "not under"},
        {header + "[HKEY_CURRENT_USER\\K\n", "\"]\""},
        {header + "[HKEY_CURRENT_USER\\\\K]\n", "empty key name"},
        {header + "[-HKEY_CURRENT_USER]\n", "root key"},
        {key + "\"v\"=dword:123456789\n", "dword"},
        {key + "\"v\"=dword:\n", "dword"},
        {key + "\"v\"=hex:1,2\n", "two-digit"},
        {key + "\"v\"=hex:01,\n", "ends with"},
        {key + "\"v\"=hex:01,\\\n", "continues"},
        {key + "\"v\"=hex:zz,\\\n  01,02\n", "two-digit"},
        {key + "\"v\"=hex(zz):01\n", "hex(type)"},
        {key + "\"v\"=\"open\n", "string data"},
        {key + "\"v\"=\"a\" tail\n", "after the string"},
        {key + "\"v\\n\"=dword:1\n", "value name"},
        {key + "v=dword:1\n", "a key, a value"},
        {header + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\n", "255"},
    };
    for (const auto& [text, fault] : cases) {
        RegKey root;
        std::vector<std::string> skipped;
        ParseRegFile(text + rest, kRoot, root, skipped);
        ASSERT_FALSE(skipped.empty()) << text;
        EXPECT_NE(skipped[0].find(fault), std::string::npos) << text << " gave: " << skipped[0];
        RegKey* good = root.Find({"Good"});
        EXPECT_TRUE(good && good->FindValue("ok")) << text;
        RegKey* k = root.Find({"K"});
        EXPECT_TRUE(!k || k->values.empty()) << text << ": the unreadable value was stored";
    }

    std::string deep = header + "[HKEY_CURRENT_USER";
    for (int i = 0; i < 513; ++i) deep += "\\k";
    std::string huge = key + "\"v\"=hex:00";
    for (size_t i = 1; i <= registry::kMaxValueSize; ++i) huge += i % 20 ? ",00" : ",\\\n00";
    for (const auto& [text, fault] : {std::pair<std::string, const char*>{deep + "]\n", "512"}, {huge + "\n", "1 MiB"}}) {
        RegKey root;
        std::vector<std::string> skipped;
        ParseRegFile(text + rest, kRoot, root, skipped);
        ASSERT_EQ(skipped.size(), 1u) << fault;
        EXPECT_NE(skipped[0].find(fault), std::string::npos) << skipped[0];
        EXPECT_TRUE(root.Find({"Good"})) << fault;
    }
}

TEST(RegFile, WritesTextThatReadsBackTheSame)
{
    RegKey root;
    RegKey& key = root.AddSubkey("Software").AddSubkey("Odd ]name[ \xC3\xA9");
    key.SetValue("", 1, {'x', 0});
    key.SetValue("quote\"back\\slash", 4, {1, 2, 3, 4});
    key.SetValue("short dword", 4, {1, 2});
    key.SetValue("no terminator", 1, {'a', 'b'});
    key.SetValue("none", 0, {});
    key.SetValue("long", 3, std::vector<uint8_t>(200, 0xAB));
    std::string text = FormatRegFile(root, kRoot);

    RegKey again;
    std::vector<std::string> skipped;
    ParseRegFile(text, kRoot, again, skipped);
    ASSERT_TRUE(skipped.empty()) << skipped[0] << "\n" << text;
    EXPECT_EQ(FormatRegFile(again, kRoot), text);
    RegKey* read = again.Find({"SOFTWARE", "odd ]NAME[ \xC3\xA9"});
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->values.size(), key.values.size());
    for (size_t i = 0; i < key.values.size(); ++i) {
        EXPECT_EQ(read->values[i].name, key.values[i].name);
        EXPECT_EQ(read->values[i].type, key.values[i].type) << key.values[i].name;
        EXPECT_EQ(read->values[i].data, key.values[i].data) << key.values[i].name;
    }
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, 80u) << "long byte lists wrap";
}

}  // namespace
