#pragma once
// The security descriptor this platform converts from its string form.

#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace velmarch::platform::win32 {

class Win32SecurityDescriptor final : public SecurityDescriptor {
public:
    explicit Win32SecurityDescriptor(UniqueLocalMemory memory) : memory_(std::move(memory)) {}
    PSECURITY_DESCRIPTOR get() const { return memory_.get(); }

private:
    UniqueLocalMemory memory_;
};

}  // namespace velmarch::platform::win32
