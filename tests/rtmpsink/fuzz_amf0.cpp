// AMF0 decoding of arbitrary server bytes, with and without names, as lists and counted lists.
#include <cstddef>
#include <cstdint>

#include "amf0.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int length = static_cast<int>(size);
    amf::AmfObject values;
    if (amf::DecodeList(values, data, length, false) >= 0) {
        // Walk what was decoded: every span must lie inside the input.
        for (const amf::AmfProperty& value : values.properties)
            for (const amf::AmfProperty& member : value.object.properties) (void)member.text.View().size();
        amf::GetProperty(amf::GetProperty(values, {}, 3).object, "code");
    }
    amf::AmfObject named;
    amf::DecodeList(named, data, length, true);
    if (size > 0) {
        amf::AmfObject counted;
        amf::DecodeCountedList(counted, data + 1, length - 1, data[0], size % 2 == 0);
    }
    return 0;
}
