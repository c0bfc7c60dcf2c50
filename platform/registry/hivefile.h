// One hive's file in the registry folder, read under a shared lock and replaced whole under an
// exclusive one.
#pragma once

#include <functional>
#include <string>

#include "regkey.h"

namespace registry {

enum class Hive { CurrentUser, ClassesRoot };

// "HKEY_CURRENT_USER" or "HKEY_CLASSES_ROOT".
const char* RootName(Hive hive);

// $VELTRO_REGISTRY_DIR, else $XDG_CONFIG_HOME/Veltro/registry, else ~/.config/Veltro/registry.
std::string RegistryFolder();

enum class Access { Read, ReadWrite };

// Runs `use` on the hive as stored, under the hive's lock: shared for Access::Read, exclusive
// for ReadWrite. When `use` reports a change the file (or the file its symbolic link leads to)
// is replaced atomically before the lock is released. Lines of the file that cannot be read
// are skipped with a warning; the file is never moved aside. Returns `use`'s status, or
// ERROR_ACCESS_DENIED (folder or file not usable, a change in a folder that cannot be
// written), ERROR_NO_SYSTEM_RESOURCES (a file over the size limit, or a change that would
// pass it; the file stays as it was) or ERROR_WRITE_FAULT.
LONG AccessHive(Hive hive, Access access, const std::function<LONG(RegKey& root, bool& changed)>& use);

}  // namespace registry
