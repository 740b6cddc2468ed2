#pragma once
// An open file over a descriptor; closing happens in the destructor.

#include "platform/platform.h"
#include "platform/posix/owners.h"
#include "platform/write_all.h"

namespace velmarch::platform::posix {

class PosixFile final : public File {
public:
    explicit PosixFile(UniqueFd fd) : fd_(std::move(fd)) {}

    Result<std::size_t> read(std::span<std::byte> buffer) override;
    Result<std::size_t> write(std::span<const std::byte> bytes) override;
    Result<void> flush() override;
    Result<std::uint64_t> size() override;
    // Closes now, so that a failed close is reported (the destructor cannot).
    [[nodiscard]] Result<void> close();

private:
    UniqueFd fd_;
};

}  // namespace velmarch::platform::posix
