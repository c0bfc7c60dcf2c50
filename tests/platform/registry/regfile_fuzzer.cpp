// Feeds arbitrary text to the hive parser. Whatever it reads (skipping what it cannot) must
// write back to text that reads to the same tree without a skipped line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "registry/regfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    registry::RegKey root;
    std::vector<std::string> skipped;
    registry::ParseRegFile(text, "HKEY_CURRENT_USER", root, skipped);
    std::string written = registry::FormatRegFile(root, "HKEY_CURRENT_USER");
    registry::RegKey again;
    skipped.clear();
    registry::ParseRegFile(written, "HKEY_CURRENT_USER", again, skipped);
    if (!skipped.empty()) std::abort();
    if (registry::FormatRegFile(again, "HKEY_CURRENT_USER") != written) std::abort();
    return 0;
}
