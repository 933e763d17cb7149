#pragma once
// Hive-level access below the registry class: whole hives read under a shared
// lock and changed under an exclusive one. The registry class and the seeding
// of a new machine use it.

#include <functional>
#include <memory>
#include <string>

#include "platform/win/Registry.h"

namespace plat::win {

// The hive as it is on disk; an empty hive when its file does not exist yet.
// nullptr for an unknown root key. Raises ERegistryException for a damaged or
// unreadable file.
std::unique_ptr<TRegKeyNode> LoadHive(HKEY root);

// Re-reads the hive under its exclusive lock and calls change on it; when
// change returns true the hive is written back at once. Returns what change
// returned (false for an unknown root key). Raises ERegistryException for a
// damaged, unreadable or unwritable file; a damaged file is left as it is.
bool ChangeHive(HKEY root, const std::function<bool(TRegKeyNode&)>& change);

// The key at path ("A\B\C") below root; nullptr when a key on the way is
// missing or the path is malformed (an empty part, a line break).
TRegKeyNode* FindKey(TRegKeyNode& root, const std::string& path);
// The same, adding the keys that are missing (nullptr only for a malformed
// path).
TRegKeyNode* ForceKey(TRegKeyNode& root, const std::string& path);

}  // namespace plat::win
