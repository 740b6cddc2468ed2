// The administrator-only staging directory: a security descriptor from its
// string form, and a directory created with it.
#include "platform/win32/windows_api.h"
// After the Windows headers it builds on.
#include <sddl.h>

#include "platform/win32/nt_file.h"
#include "platform/win32/os_error.h"
#include "platform/win32/platform.h"
#include "platform/win32/security_descriptor.h"
#include "platform/win32/wide_text.h"
#include "text/utf.h"

namespace velmarch::platform::win32 {

Result<std::unique_ptr<SecurityDescriptor>> Win32Platform::create_security_descriptor(std::string_view sddl) {
    const std::wstring wide = to_wide(text::utf8_to_utf16_lossy(sddl));
    // Owned as written, so that a non-null descriptor is freed even when the
    // call reported failure.
    UniqueLocalMemory memory;
    const BOOL converted =
        ::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), SDDL_REVISION_1, memory.put(), nullptr);
    if (!converted || !memory) return fail(ErrorKind::os_error, last_os_error_text());
    return std::make_unique<Win32SecurityDescriptor>(std::move(memory));
}

Result<DirectoryCreation> Win32Platform::create_directory(const Path& path, const SecurityDescriptor& security) {
    const auto* descriptor = dynamic_cast<const Win32SecurityDescriptor*>(&security);
    if (descriptor == nullptr) {
        return fail(ErrorKind::general, std::string("The security descriptor was not made by this platform."));
    }
    Result<Located> at = locate_path(path, WalkOptions{.follow_final_link = false});
    if (!at) return std::unexpected(at.error());
    if (at->directory) {
        // Made in the held directory, never through a link at its name.
        const Opened made =
            open_at(at->directory.get(), at->name,
                    FileOpening{.access = FILE_READ_ATTRIBUTES,
                                .creation = CREATE_NEW,
                                .flags_and_attributes = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                .directory_only = true,
                                .security = descriptor->get()});
        if (made) return DirectoryCreation::created;
        if (made.error() == ERROR_ALREADY_EXISTS) return DirectoryCreation::already_exists;
        return fail(ErrorKind::os_error, os_error_text(made.error()));
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = descriptor->get();
    attributes.bInheritHandle = FALSE;
    if (::CreateDirectoryW(path.c_str(), &attributes)) return DirectoryCreation::created;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return DirectoryCreation::already_exists;
    return fail(ErrorKind::os_error, os_error_text(error));
}

}  // namespace velmarch::platform::win32
