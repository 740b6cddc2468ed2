#pragma once
// Owners of a file descriptor and of a directory stream, made with the common
// owner: each closes its resource when destroyed or reset; close() closes now
// and returns the system's result (0, or -1 with errno set).

#include <dirent.h>
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

// A directory stream; closing it closes the descriptor it was opened on.
struct DirectoryStreamTraits {
    using Value = DIR*;
    static Value invalid() noexcept { return nullptr; }
    static bool is_valid(Value dir) noexcept { return dir != nullptr; }
    static int release(Value dir) noexcept { return ::closedir(dir); }
    static int nothing_released() noexcept { return 0; }
};

using UniqueDirectoryStream = UniqueResource<DirectoryStreamTraits, KeepErrno>;

}  // namespace velmarch::platform::posix
