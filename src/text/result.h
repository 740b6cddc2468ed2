#pragma once
// The project's error vocabulary. Every fallible operation returns either its
// value or an Error: one complete English sentence saying what failed (or the
// system's own text for it), and the kind of failure, which is what callers
// branch on. Nothing is thrown across modules.

#include <expected>
#include <string>
#include <utility>

namespace velmarch {

// The failures some caller tells apart. Everything else is `general`.
enum class ErrorKind {
    general,
    // A system call failed; the text is the system's "{} (os error {})".
    os_error,
    // The path names something that exists but is not a regular file (a
    // FIFO, a socket, a device, a pipe); the text is "not a regular file".
    not_a_regular_file,
    // Another program has the file or directory open in a way that forbids
    // its deletion for now: trying again shortly may succeed. The text is the
    // system's error.
    held,
    // A program name was found nowhere it is searched for; the text is
    // "program not found".
    program_not_found,
    // An elevated run met a link it does not follow (its owner is not a
    // trusted one); the text is the system's error for it.
    untrusted_link,
    // An elevated run met a path that is not on a local volume; the text is
    // "not on a local volume".
    not_on_local_volume,
    // A caller's input was refused before anything was done with it.
    refused,
};

struct Error {
    ErrorKind kind = ErrorKind::general;
    std::string text;
    friend bool operator==(const Error&, const Error&) = default;
};

template <class T>
using Result = std::expected<T, Error>;

// The failure of a Result: `return fail(ErrorKind::refused, text);`.
inline std::unexpected<Error> fail(ErrorKind kind, std::string text) {
    return std::unexpected(Error{kind, std::move(text)});
}

}  // namespace velmarch
