#pragma once
// An open file over a Windows file handle.

#include "platform/platform.h"
#include "platform/win32/owners.h"
#include "platform/write_all.h"

namespace velmarch::platform::win32 {

class Win32File final : public File {
public:
    explicit Win32File(UniqueHandle handle) : handle_(std::move(handle)) {}

    Result<std::size_t> read(std::span<std::byte> buffer) override;
    Result<std::size_t> write(std::span<const std::byte> bytes) override;
    Result<void> flush() override;
    Result<std::uint64_t> size() override;

private:
    UniqueHandle handle_;
};

}  // namespace velmarch::platform::win32
