#pragma once
// Signs test packages with the development key, as the publisher would.

#include <openssl/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "run/update_request.h"

namespace velmarch::testing {

std::string sha256_hex(std::string_view content);
// The development private key from keys/development; empty when it cannot be
// read. Read through memory: libcrypto's file functions are not built for
// Windows.
std::shared_ptr<EVP_PKEY> read_development_private_key();
// Base64 Ed25519 signature of `message` with the development private key.
std::string sign_with_development_key(std::string_view message);
// Fills the digest, version, signature, key id and algorithm of `request` for
// a package with `content`.
void sign_request(run::UpdateRequest& request, std::string_view content, std::string_view version = "2.4.0");

}  // namespace velmarch::testing
