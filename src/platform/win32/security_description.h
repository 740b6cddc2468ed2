#pragma once
// Security descriptors of open files and folders as the portable rules read
// them (platform/rules/trusted_access.h), and the descriptor for what an elevated
// run creates in a caller's folder (platform/rules/created_object_security.h).

#include <optional>

#include "platform/rules/created_object_security.h"
#include "platform/rules/trusted_access.h"
#include "platform/win32/owners.h"
#include "platform/win32/windows_api.h"
#include "text/result.h"

namespace velmarch::platform::win32 {

// Owner and access list of an open file or folder (opened with
// READ_CONTROL); nothing when they cannot be read (then nothing about it is
// trusted).
[[nodiscard]] std::optional<SecurityDescription> security_of(HANDLE handle);

// The descriptor for a file or folder this process creates in the held
// folder `parent`: its protected access list built by
// created_object_security from the parent's entries, owner and group left
// to this process's token, which the built list takes them from. A parent
// whose descriptor cannot be read passes nothing on.
[[nodiscard]] Result<UniqueLocalMemory> created_object_descriptor(HANDLE parent, CreatedKind kind);

}  // namespace velmarch::platform::win32
