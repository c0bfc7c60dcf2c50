// Feeds bytes to the version file's reader: a usable line always names a plain file.
#include <cstdlib>
#include <string>

#include "update/software_update.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const VersionLine line = ReadVersionFile(std::string(reinterpret_cast<const char*>(data), size));
    if (line.kind == VersionLine::Usable && (line.name.empty() || line.name.find('/') != std::string::npos))
        std::abort();
    return 0;
}
