// Feeds arbitrary text to the hive parser. Whatever it accepts must write back to text
// that reads to the same tree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "registry/regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    registry::RegKey root;
    std::string error;
    if (!registry::ParseRegFile(text, "HKEY_CURRENT_USER", root, error)) return 0;
    std::string written = registry::FormatRegFile(root, "HKEY_CURRENT_USER");
    registry::RegKey again;
    if (!registry::ParseRegFile(written, "HKEY_CURRENT_USER", again, error)) std::abort();
    if (registry::FormatRegFile(again, "HKEY_CURRENT_USER") != written) std::abort();
    return 0;
}
