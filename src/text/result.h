#pragma once
// The project's error vocabulary. Every fallible operation returns either its
// value or an Error: one complete English sentence saying what failed (or the
// system's own text for it), and the kind of failure, which is what callers
// branch on. Nothing is thrown across modules.

#include <expected>
#include <string>
#include <utility>

#include "text/format.h"

namespace velmarch {

// The failures some caller tells apart. Everything else is `general`. An
// error told again with context around it (with_context) keeps its kind, so
// a kind's text below may stand inside a longer sentence.
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

// The failure of a Result that is an error already made:
// `return fail(with_context(cause, kPattern));`.
inline std::unexpected<Error> fail(Error error) { return std::unexpected(std::move(error)); }

// `cause` told inside a sentence of its caller's, its kind kept: `pattern`'s
// placeholders take `context` in order, and its last one the cause's text.
template <class... Context>
Error with_context(const Error& cause, text::BasicPattern<std::type_identity_t<Context>..., std::string> pattern,
                   const Context&... context) {
    return Error{cause.kind, text::format<Context..., std::string>(pattern, context..., cause.text)};
}

}  // namespace velmarch
