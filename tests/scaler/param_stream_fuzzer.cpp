// Loads arbitrary bytes as a parameter stream: any outcome but a crash, an out-of-bounds read
// or a partly applied load is a fault.
#include <cstdlib>

#include "test_module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TestOwner* owner = new TestOwner;
    ComPtr<IStream> stream;
    CreateMemoryStream(data, size, stream.Put());
    HRESULT hr = owner->module.Load(stream.Get());
    if (FAILED(hr) && !owner->module.changeSets.empty()) std::abort();
    owner->Release();
    return 0;
}
