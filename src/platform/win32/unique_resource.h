#pragma once
// Owners of Windows handles and allocations: each releases what it holds,
// exactly once, when destroyed or reset.

#include <utility>

#include "platform/win32/windows_api.h"

namespace velmarch::platform::win32 {

template <class Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Value value) noexcept : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    Value get() const noexcept { return value_; }
    bool valid() const noexcept { return Traits::is_valid(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without releasing.
    Value release() noexcept { return std::exchange(value_, Traits::invalid()); }
    void reset(Value value = Traits::invalid()) noexcept {
        const Value old = std::exchange(value_, value);
        if (Traits::is_valid(old)) Traits::release(old);
    }

private:
    Value value_ = Traits::invalid();
};

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

// Memory the system allocated for the caller with LocalAlloc.
struct LocalMemoryTraits {
    using Value = HLOCAL;
    static Value invalid() noexcept { return nullptr; }
    static bool is_valid(Value value) noexcept { return value != nullptr; }
    static void release(Value value) noexcept { ::LocalFree(value); }
};
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;

struct ModuleTraits {
    using Value = HMODULE;
    static Value invalid() noexcept { return nullptr; }
    static bool is_valid(Value value) noexcept { return value != nullptr; }
    static void release(Value value) noexcept { ::FreeLibrary(value); }
};
using UniqueModule = UniqueResource<ModuleTraits>;

}  // namespace velmarch::platform::win32
