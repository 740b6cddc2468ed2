#include "trust/embedded_update_key.h"

#include "embedded_public_key.h"

namespace velmarch::trust {

std::string_view embedded_update_public_key() { return generated::kEmbeddedUpdatePublicKey; }

}  // namespace velmarch::trust
