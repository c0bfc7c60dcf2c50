#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "params/param_stream.h"
#include "test_module.h"

namespace {

std::vector<uint8_t> StreamContents(IStream* stream)
{
    LARGE_INTEGER zero{0};
    ULARGE_INTEGER end{0};
    stream->Seek(zero, STREAM_SEEK_END, &end);
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::vector<uint8_t> bytes(end.QuadPart);
    ULONG read = 0;
    stream->Read(bytes.data(), ULONG(bytes.size()), &read);
    return bytes;
}

class Persistence : public testing::Test {
protected:
    Persistence()
    {
        dir = std::filesystem::temp_directory_path() / ("scalvo-persist-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        setenv("VELTRO_REGISTRY_DIR", dir.c_str(), 1);
        a = new TestOwner;
        b = new TestOwner;
    }
    ~Persistence() override
    {
        a->Release();
        b->Release();
        std::filesystem::remove_all(dir);
    }
    void Change(TestModule& m)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 1234;
        m.SetValue(&kWidthId, &v);
        v.lVal = -1;
        m.SetValue(&kFlagId, &v);
        v.vt = VT_R8;
        v.dblVal = 1.7777;
        m.SetValue(&kRatioId, &v);
        v.vt = VT_UI4;
        v.ulVal = 0x80000001;
        m.SetValue(&kMaskId, &v);
        ASSERT_EQ(m.CommitChanges(nullptr), S_OK);
    }
    std::vector<uint8_t> Saved(TestModule& m)
    {
        ComPtr<IStream> stream;
        CreateMemoryStream(nullptr, 0, stream.Put());
        EXPECT_EQ(m.Save(stream.Get(), TRUE), S_OK);
        return StreamContents(stream.Get());
    }
    HRESULT LoadBytes(TestModule& m, const std::vector<uint8_t>& bytes)
    {
        ComPtr<IStream> stream;
        CreateMemoryStream(bytes.data(), bytes.size(), stream.Put());
        return m.Load(stream.Get());
    }
    static const WCHAR* Key() { return u"Software\\Tolvane\\Test Module\\host"; }

    std::filesystem::path dir;
    TestOwner* a;
    TestOwner* b;
};

TEST_F(Persistence, StreamLayoutIsPinned)
{
    Change(a->module);
    auto bytes = Saved(a->module);
    // Header: format id, version 0, five writable entries.
    ASSERT_GE(bytes.size(), 24u);
    EXPECT_EQ(std::memcmp(bytes.data(), &ModuleConfig::kParamStreamFormat, 16), 0);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 24),
              (std::vector<uint8_t>{0, 0, 0, 0, 5, 0, 0, 0}));
    // First entry: id, VT_UI2, 1234 little-endian, visible 1.
    EXPECT_EQ(std::memcmp(bytes.data() + 24, &kWidthId, 16), 0);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 40, bytes.begin() + 48),
              (std::vector<uint8_t>{18, 0, 0xD2, 0x04, 1, 0, 0, 0}));
    // Header 24, then id 16 + type 2 + value + visible 4: UI2 24, I2 24, UINT 26, UI4 26, R8 30.
    EXPECT_EQ(bytes.size(), 24u + 24 + 24 + 26 + 26 + 30);
    ULARGE_INTEGER max{0};
    a->module.GetSizeMax(&max);
    EXPECT_GE(max.QuadPart, bytes.size());

    ASSERT_EQ(LoadBytes(b->module, bytes), S_OK);
    EXPECT_EQ(b->module.Config().width, 1234);
    EXPECT_EQ(b->module.Config().flag, -1);
    EXPECT_EQ(b->module.Config().ratio, 1.7777);
    EXPECT_EQ(b->module.Config().mask, 0x80000001u);
    EXPECT_EQ(b->module.changeSets.size(), 1u);  // one change set for the whole load
}

TEST_F(Persistence, UnknownIdsAndTextValuesAreReadToo)
{
    ComPtr<IStream> stream;
    CreateMemoryStream(nullptr, 0, stream.Put());
    ModuleConfig::WriteStreamHeader(stream.Get(), 2);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocStringUtf8("2.5");
    const GUID unknown = {0xABCDEF, 1, 2, {3}};
    ModuleConfig::WriteStreamEntry(stream.Get(), unknown, text, true);
    ModuleConfig::WriteStreamEntry(stream.Get(), kRatioId, text, false);
    VariantClear(&text);
    ASSERT_EQ(LoadBytes(a->module, StreamContents(stream.Get())), S_OK);
    EXPECT_EQ(a->module.Config().ratio, 2.5);
}

TEST_F(Persistence, ForeignVersionOrTruncatedStreamChangesNothing)
{
    Change(a->module);
    auto good = Saved(a->module);
    auto versioned = good;
    versioned[16] = 1;
    EXPECT_EQ(LoadBytes(b->module, versioned), E_FAIL);
    for (size_t cut = 0; cut < good.size(); ++cut) {
        std::vector<uint8_t> part(good.begin(), good.begin() + cut);
        ASSERT_EQ(LoadBytes(b->module, part), E_FAIL) << cut;
    }
    // A string entry whose length claims far more than the stream holds.
    std::vector<uint8_t> forged(good.begin(), good.begin() + 40);
    forged[20] = 1;
    forged.insert(forged.end(), {8, 0, 0xF0, 0xFF, 0xFF, 0x7F, 'a', 0});
    EXPECT_EQ(LoadBytes(b->module, forged), E_FAIL);
    EXPECT_EQ(b->module.Config().width, 0);
    EXPECT_EQ(b->module.Config().ratio, 1.0);
    EXPECT_TRUE(b->module.changeSets.empty());
}

TEST_F(Persistence, RegistryKeepsTheStreamAsOneBinaryValue)
{
    Change(a->module);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\Tolvane\\Test Module\\host", 0, nullptr, 0, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr),
              ERROR_SUCCESS);
    DWORD stale = 5;
    RegSetValueEx(key, "Stale", 0, REG_DWORD, reinterpret_cast<BYTE*>(&stale), 4);
    ASSERT_EQ(a->module.SaveToRegistry(HKEY_CURRENT_USER, Key(), FALSE), S_OK);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "Stale", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegQueryValueEx(key, "SaveToRegistry", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, Saved(a->module).size());

    ASSERT_EQ(b->module.LoadFromRegistry(HKEY_CURRENT_USER, Key(), FALSE), S_OK);
    EXPECT_EQ(b->module.Config().width, 1234);

    // A value cut short loads nothing.
    BYTE shortValue[10] = {};
    RegSetValueEx(key, "SaveToRegistry", 0, REG_BINARY, shortValue, sizeof(shortValue));
    TestOwner* c = new TestOwner;
    EXPECT_EQ(c->module.LoadFromRegistry(HKEY_CURRENT_USER, Key(), FALSE), E_FAIL);
    EXPECT_EQ(c->module.Config().width, 0);
    c->Release();
    RegCloseKey(key);
}

TEST_F(Persistence, RegistryPerValueUsesTheParameterNames)
{
    Change(a->module);
    ASSERT_EQ(a->module.SaveToRegistry(HKEY_CURRENT_USER, Key(), TRUE), S_OK);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tolvane\\Test Module\\host", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    DWORD type = 0, dword = 0, size = 4;
    ASSERT_EQ(RegQueryValueEx(key, "Flag", nullptr, &type, reinterpret_cast<BYTE*>(&dword), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(dword, 0xFFFFFFFFu);
    double ratio = 0;
    size = 8;
    ASSERT_EQ(RegQueryValueEx(key, "Ratio", nullptr, &type, reinterpret_cast<BYTE*>(&ratio), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(ratio, 1.7777);
    EXPECT_EQ(RegQueryValueEx(key, "Source", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(b->module.LoadFromRegistry(HKEY_CURRENT_USER, Key(), TRUE), S_OK);
    EXPECT_EQ(b->module.Config().flag, -1);
    EXPECT_EQ(b->module.Config().mask, 0x80000001u);
    EXPECT_EQ(b->module.Config().ratio, 1.7777);

    // A value of the wrong type or size refuses the whole load.
    BYTE three[3] = {1, 2, 3};
    RegSetValueEx(key, "Ratio", 0, REG_BINARY, three, 3);
    TestOwner* c = new TestOwner;
    EXPECT_EQ(c->module.LoadFromRegistry(HKEY_CURRENT_USER, Key(), TRUE), E_FAIL);
    EXPECT_EQ(c->module.Config().width, 0);
    c->Release();
    RegCloseKey(key);
}

}  // namespace
