// The `.reg` export text of one hive, without any file access, so that it can be tested
// and fuzzed on its own:
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

#include "regkey.h"

namespace registry {

constexpr std::string_view kRegFileHeader = "Windows Registry Editor Version 5.00";

// Parses `text` into `root`, whose sections must all start with `rootName` (for example
// "HKEY_CURRENT_USER"). On failure returns false with `error` naming the line and the fault.
bool ParseRegFile(std::string_view text, std::string_view rootName, RegKey& root, std::string& error);

// The complete file text for the tree below `root`.
std::string FormatRegFile(const RegKey& root, std::string_view rootName);

}  // namespace registry
