#include <openssl/crypto.h>

#include "platform/win32/platform.h"
#include "platform/win32/redirection_guard.h"
#include "platform/win32/windows_api.h"

namespace velmarch::platform {

std::unique_ptr<Platform> make_native_platform(int, char**) {
    // The updater runs with administrator rights from a directory other users
    // may write to: a DLL planted next to it, or in the current directory,
    // must never be loaded. From here on only System32 is searched.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    // Before any file is touched: an ordinary user's junction or link on a
    // caller-named path must not lead an elevated run into places only
    // administrators may change. RedirectionGuard makes the system refuse
    // junctions that non-administrators made; symbolic links are not named in
    // what it promises, so the platform still checks those itself. Where the
    // system has no RedirectionGuard, the platform checks every link. A run
    // without elevation has nothing a link could win and follows links like
    // any program (a user's own junction to their Downloads keeps working).
    using win32::LinkCheck;
    const bool elevated = win32::process_is_elevated();
    const bool guarded_by_system = elevated && win32::enable_redirection_guard();
    const LinkCheck link_check =
        !elevated ? LinkCheck::off : (guarded_by_system ? LinkCheck::symbolic_links : LinkCheck::every_link);

    // Likewise nothing configurable from disk may reach libcrypto: no
    // openssl.cnf (which could name engines or provider modules to load), and
    // no cleanup handler racing the process exit. The library is built without
    // engine, module and DSO support, so the built-in default provider is all
    // it can ever use.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_ATEXIT, nullptr);

    return std::make_unique<win32::Win32Platform>(link_check);
}

namespace win32 {

Win32Platform::Win32Platform(LinkCheck link_check)
    : link_check_(link_check),
      prng_module_(::LoadLibraryExW(L"bcryptprimitives.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (prng_module_) {
        // Through a plain function pointer type: GetProcAddress's FARPROC is
        // not meant to be called as it is.
        const auto address = reinterpret_cast<void (*)()>(::GetProcAddress(prng_module_.get(), "ProcessPrng"));
        process_prng_ = reinterpret_cast<ProcessPrngFunction>(address);
    }
}

}  // namespace win32
}  // namespace velmarch::platform
