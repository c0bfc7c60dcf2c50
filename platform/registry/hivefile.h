// One hive's file in the registry folder, read and replaced whole under an exclusive lock.
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

// Runs `change` on the hive as stored, under the hive's lock; when it reports a change the
// file is replaced atomically before the lock is released. A file that cannot be parsed is
// moved aside (and reported on stderr) and the hive starts empty. Returns `change`'s status,
// or ERROR_ACCESS_DENIED / ERROR_WRITE_FAULT when the folder or file cannot be used.
LONG UpdateHive(Hive hive, const std::function<LONG(RegKey& root, bool& changed)>& change);

}  // namespace registry
