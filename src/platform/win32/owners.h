#pragma once
// Owners of Windows handles and allocations, made with the common owner.

#include "platform/unique_resource.h"
#include "platform/win32/windows_api.h"

namespace velmarch::platform::win32 {

// Puts back GetLastError() after a release, so that a failing call's error
// survives the owners destroyed or reset before it is read.
class KeepLastError {
public:
    KeepLastError() noexcept : error_(::GetLastError()) {}
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;
    ~KeepLastError() { ::SetLastError(error_); }

private:
    DWORD error_;
};

template <class Traits>
using UniqueResource = platform::UniqueResource<Traits, KeepLastError>;

// Kernel object handles. Functions disagree on how they report failure (null
// or INVALID_HANDLE_VALUE), so both count as "no handle"; the pseudo handle of
// the current process is never stored here.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static bool is_valid(Value value) noexcept { return value != nullptr && value != INVALID_HANDLE_VALUE; }
    static void release(Value value) noexcept { ::CloseHandle(value); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// Search handles of FindFirstFileExW.
struct FindHandleTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_valid(Value value) noexcept { return value != INVALID_HANDLE_VALUE; }
    static void release(Value value) noexcept { ::FindClose(value); }
};
using UniqueFindHandle = UniqueResource<FindHandleTraits>;

// Resources that only null marks as absent, released by `Release`.
template <class Resource, auto Release>
struct NullIsEmptyTraits {
    using Value = Resource;
    static Value invalid() noexcept { return nullptr; }
    static bool is_valid(Value value) noexcept { return value != nullptr; }
    static void release(Value value) noexcept { Release(value); }
};

// Memory the system allocated for the caller with LocalAlloc.
using LocalMemoryTraits = NullIsEmptyTraits<HLOCAL, &::LocalFree>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

using ModuleTraits = NullIsEmptyTraits<HMODULE, &::FreeLibrary>;
using UniqueModule = UniqueResource<ModuleTraits>;

}  // namespace velmarch::platform::win32
