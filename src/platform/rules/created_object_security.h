#pragma once
// What an elevated run gives each folder and report file it creates on a
// caller-named path: the helper log's missing folders, the helper log, the
// result file and the installer log's copy.
//
// Left to inheritance, such an object takes the parent's inheritable
// entries: in a user's profile the user gets full control, WRITE_DAC and
// WRITE_OWNER included, of an object Administrators own. With WRITE_DAC the
// user can put a protected access list on it that leaves every ordinary user
// out, empty it and make it a junction; the owner stays Administrators, and
// the link rule (trusted_access.h) could not tell it from a folder an
// administrator made on purpose.
//
// So the run gives the object an explicit, protected access list: the
// entries the parent would have passed on, each as inheritance would have
// made it, with WRITE_DAC and WRITE_OWNER taken from everyone but
// Administrators, LocalSystem and TrustedInstaller, and an OWNER RIGHTS entry
// that leaves the owner only READ_CONTROL of its implicit rights. The user
// keeps every other right the parent gave them (reading, writing and deleting
// their reports), and so the link rule keeps refusing a link made of it:
// what the user can still do to it is what makes it untrusted, and they can
// no longer take that away from themselves. Protected, because the system
// would otherwise add the parent's inheritable entries again.
//
// Pure logic over the plain description of trusted_access.h; the Windows
// side reads the parent and the creating token, and converts the text form.

#include <string>

#include "platform/rules/trusted_access.h"

namespace velmarch::platform {

enum class CreatedKind { file, folder };

// The owner and primary group the new object will get: the creating token's
// defaults. CREATOR OWNER and CREATOR GROUP in the parent's entries stand for
// them.
struct Creator {
    std::string owner;
    std::string group;
};

// The owner (the creator's) and access list of an object the elevated run
// creates in a folder with the security `parent`. When the parent passes
// nothing on (a NULL list, or no entry for this kind of object), the list is
// what the system would have used for the elevated run: full control for
// LocalSystem and Administrators. Conditional entries, and deny entries of a
// form not described, are left out (the two rights are withheld by the allow
// entries, which alone grant).
[[nodiscard]] SecurityDescription created_object_security(const SecurityDescription& parent, const Creator& creator,
                                                          CreatedKind kind);

// The access list of `security` as protected descriptor text ("D:P(A;;...)"),
// as the system converts it; the owner and group are left to the creating
// token. Entries must carry a SID.
[[nodiscard]] std::string protected_access_list_text(const SecurityDescription& security);

}  // namespace velmarch::platform
