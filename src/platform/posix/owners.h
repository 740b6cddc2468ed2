#pragma once
// Owner of a file descriptor, made with the common owner: closes it when
// destroyed or reset; close() closes now and returns close's result (0, or -1
// with errno set).

#include <unistd.h>

#include <cerrno>

#include "platform/unique_resource.h"

namespace velmarch::platform::posix {

// Puts back errno after a close, so that a failing call's error survives the
// descriptors closed before it is read.
class KeepErrno {
public:
    KeepErrno() noexcept : error_(errno) {}
    KeepErrno(const KeepErrno&) = delete;
    KeepErrno& operator=(const KeepErrno&) = delete;
    ~KeepErrno() { errno = error_; }

private:
    int error_;
};

struct DescriptorTraits {
    using Value = int;
    static Value invalid() noexcept { return -1; }
    static bool is_valid(Value fd) noexcept { return fd >= 0; }
    static int release(Value fd) noexcept { return ::close(fd); }
    static int nothing_released() noexcept { return 0; }
};

using UniqueFd = UniqueResource<DescriptorTraits, KeepErrno>;

}  // namespace velmarch::platform::posix
