#pragma once
// Owners for the OpenSSL objects the trust code creates, and a guard that
// leaves OpenSSL's thread-local error queue empty.

#include <memory>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>

namespace velmarch::trust {

template <auto Free>
struct OpenSslDeleter {
    template <class T>
    void operator()(T* object) const noexcept {
        Free(object);
    }
};

using BignumOwner = std::unique_ptr<BIGNUM, OpenSslDeleter<BN_free>>;
using BignumContextOwner = std::unique_ptr<BN_CTX, OpenSslDeleter<BN_CTX_free>>;
using DigestContextOwner = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX_free>>;
using KeyOwner = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;

// Library error details are never shown to anyone, so whatever a call left in
// the queue is dropped when the guarded scope ends.
class OpenSslErrorQueueGuard {
public:
    OpenSslErrorQueueGuard() = default;
    OpenSslErrorQueueGuard(const OpenSslErrorQueueGuard&) = delete;
    OpenSslErrorQueueGuard& operator=(const OpenSslErrorQueueGuard&) = delete;
    ~OpenSslErrorQueueGuard() { ERR_clear_error(); }
};

}  // namespace velmarch::trust
