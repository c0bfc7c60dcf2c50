// Registers the platform filters when the library loads.
#include "../com/plugin.h"
#include "../dshow/filtergraph.h"
#include "../dshow/uuids.h"
#include "platform_filters.h"

namespace {

bool RegisterPlatformFilters()
{
    RegisterBuiltinClass(CLSID_VideoRenderer, CreateBuiltin<CreateVideoRenderer>);
    RegisterBuiltinClass(CLSID_SampleGrabber, CreateBuiltin<CreateSampleGrabber>);
    RegisterBuiltinClass(CLSID_NullRenderer, CreateBuiltin<CreateNullRenderer>);
    RegisterBuiltinClass(CLSID_FileWriter, CreateBuiltin<CreateFileWriter>);
    RegisterBuiltinClass(CLSID_MjpegDec, CreateBuiltin<CreateMjpegDecompressor>);
    RegisterConverterClass(CLSID_MjpegDec, u"MJPEG Decompressor");
    return true;
}

const bool kRegistered = RegisterPlatformFilters();

}  // namespace
