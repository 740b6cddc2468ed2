#pragma once
// The one owner of operating-system resources: a descriptor, a handle, an
// allocation or a loaded module is released exactly once, when its owner is
// destroyed or reset.
//
// `Traits` says what is held and how it is let go:
//     using Value = ...;                     // the raw resource
//     static Value invalid() noexcept;       // what an empty owner holds
//     static bool is_valid(Value) noexcept;  // whether there is something to release
//     static R release(Value) noexcept;      // the system's release call, its result R
//     static R nothing_released() noexcept;  // optional: what close() of an empty owner returns
// `KeepLastError` guards the system's per-thread last error (errno,
// GetLastError): made before a release and destroyed after it, it puts back
// the error of whatever failed before, so that a failing call's error text is
// never the release's.

#include <utility>

namespace velmarch::platform {

template <class Traits, class KeepLastError>
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

    // Releases what is held (keeping the thread's last error) and takes `value`.
    void reset(Value value = Traits::invalid()) noexcept {
        const Value old = std::exchange(value_, value);
        if (!Traits::is_valid(old)) return;
        const KeepLastError kept;
        Traits::release(old);
    }

    // Releases what is held and gives the address of the emptied storage, for
    // a system call that writes a new resource into an out-parameter: what it
    // writes is owned from then on, even when the call reports failure.
    Value* put() noexcept {
        reset();
        return &value_;
    }

    // Releases now and returns the release call's result, its error left for
    // the caller to report (for a close whose failure matters, such as a
    // written file's). An empty owner returns Traits::nothing_released().
    auto close() noexcept -> decltype(Traits::release(Traits::invalid())) {
        if (!valid()) return Traits::nothing_released();
        return Traits::release(release());
    }

private:
    Value value_ = Traits::invalid();
};

}  // namespace velmarch::platform
