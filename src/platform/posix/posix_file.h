#pragma once
// An open file over a descriptor; closing happens in the destructor.

#include "platform/platform.h"
#include "platform/posix/unique_fd.h"

namespace velmarch::platform::posix {

class PosixFile final : public File {
public:
    explicit PosixFile(UniqueFd fd) : fd_(std::move(fd)) {}

    Result<std::size_t> read(std::span<std::byte> buffer) override;
    Result<std::size_t> write(std::span<const std::byte> bytes) override;
    Result<void> flush() override;

private:
    UniqueFd fd_;
};

// Writes every byte, retrying short and interrupted writes.
Result<void> write_all(int fd, std::span<const std::byte> bytes);

}  // namespace velmarch::platform::posix
