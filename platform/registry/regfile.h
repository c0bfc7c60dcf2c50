// The `.reg` export text of one hive, without any file access, so that it can be tested
// and fuzzed on its own (the header may also be "REGEDIT4"):
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Vendor]
//   "Level"=dword:0000001e
//   @="default text"
//   "Big"=hex(b):00,10,00,00,00,00,00,00
//   "Blob"=hex:01,02,03        (long byte lists continue on the next line after ",\")
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "regkey.h"

namespace registry {

constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

// Parses `text` (UTF-8, or UTF-16LE with a byte-order mark) into `root`, whose keys must all be
// below `rootName` (for example "HKEY_CURRENT_USER"). Key deletions "[-...]" and value
// deletions "name"=- are applied. A line that cannot be read is skipped, with the values of a
// key line that cannot be read, and named in `skipped` ("line N: fault").
void ParseRegFile(std::string_view text, std::string_view rootName, RegKey& root, std::vector<std::string>& skipped);

// The complete file text for the tree below `root`.
std::string FormatRegFile(const RegKey& root, std::string_view rootName);

}  // namespace registry
