#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "com/plugin.h"
#include "test_plugin.h"

namespace {

TEST(Plugin, CreatesObjectsThroughTheLibraryClassFactory)
{
    std::string error;
    DllGetClassObjectFn entry = LoadClassObjectEntry(TEST_PLUGIN_PATH, &error);
    ASSERT_NE(entry, nullptr) << error;
    EXPECT_EQ(LoadClassObjectEntry(TEST_PLUGIN_PATH), entry) << "a library is loaded once per path";

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(entry(CLSID_TestCounter, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<ITestCounter> counter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITestCounter, counter.PutVoid()), S_OK);
    EXPECT_EQ(counter->Increment(), 1);
    EXPECT_EQ(counter->Increment(), 2);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(counter.As(unknown), S_OK);

    ComPtr<ITestCounter> other;
    ASSERT_EQ(CreateInstanceFromLibrary(TEST_PLUGIN_PATH, CLSID_TestCounter, IID_ITestCounter, other.PutVoid()), S_OK);
    EXPECT_EQ(other->Increment(), 1);

    void* nothing = &error;
    EXPECT_EQ(CreateInstanceFromLibrary(TEST_PLUGIN_PATH, IID_ITestCounter, IID_ITestCounter, &nothing),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(nothing, nullptr);
    EXPECT_EQ(CreateInstanceFromLibrary(TEST_PLUGIN_PATH, CLSID_TestCounter, IID_IClassFactory, &nothing),
              E_NOINTERFACE);
}

TEST(Plugin, ReportsMissingLibrariesAndExports)
{
    std::string error;
    EXPECT_EQ(LoadClassObjectEntry("/nonexistent/Missing.ax", &error), nullptr);
    EXPECT_NE(error.find("Missing.ax"), std::string::npos) << error;
    // A real library without the export.
    error.clear();
    EXPECT_EQ(LoadClassObjectEntry(VELTRO_BIN_DIR "/libvplatform.so", &error), nullptr);
    EXPECT_NE(error.find("DllGetClassObject"), std::string::npos) << error;
    void* object = nullptr;
    EXPECT_EQ(CreateInstanceFromLibrary("/nonexistent/Missing.ax", CLSID_TestCounter, IID_IUnknown, &object), E_FAIL);
}

constexpr CLSID CLSID_Builtin = {0x5A1E0003, 0x1234, 0x4321, {0x80, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

HRESULT CreateBuiltin(IUnknown* outer, REFIID iid, void** ppv)
{
    return CreateInstanceFromLibrary(TEST_PLUGIN_PATH, CLSID_TestCounter, iid, ppv);
}

TEST(Plugin, CoCreateInstanceServesRegisteredClassesOnly)
{
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(CLSID_Builtin, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    RegisterBuiltinClass(CLSID_Builtin, CreateBuiltin);

    std::vector<std::thread> threads;
    std::atomic<int> created{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                ComPtr<ITestCounter> counter;
                if (CoCreateInstance(CLSID_Builtin, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                                     counter.PutVoid()) == S_OK &&
                    counter->Increment() == 1)
                    ++created;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(created, 400);
}

}  // namespace
