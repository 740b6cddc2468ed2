#include "embedded_update_key.h"

#include "embedded_public_key.h"

namespace velmarch {

std::string_view embedded_update_public_key() { return generated::kEmbeddedUpdatePublicKey; }

}  // namespace velmarch
