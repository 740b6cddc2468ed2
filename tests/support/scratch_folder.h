#pragma once
// A fresh folder of a test's own under the system's temporary directory
// (TMPDIR on POSIX, GetTempPathW on Windows), removed with everything in it
// when its owner goes. Its name starts with `prefix`; a name that exists
// already is never taken over. When no folder can be made the test fails and
// path() is empty.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include "platform/win32/windows_api.h"
#else
#include <cstdlib>
#endif

namespace velmarch::testing {

class ScratchFolder {
public:
    explicit ScratchFolder(std::string_view prefix = "velmarch-test-") {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        if (error) {
            ADD_FAILURE() << "no temporary directory: " << error.message();
            return;
        }
#ifdef _WIN32
        // This process's id and a count; a name made by someone else is
        // skipped, never reused.
        std::wstring stem = std::filesystem::path(prefix).native();
        stem.append(std::to_wstring(::GetCurrentProcessId())).append(L"-");
        DWORD last_error = ERROR_ALREADY_EXISTS;
        for (int tries = 0; tries < 100 && last_error == ERROR_ALREADY_EXISTS; ++tries) {
            // Appended piece by piece: GCC 12 at -O3 takes `text + std::wstring`
            // (an insert at the front) for an overlapping copy (-Wrestrict, GCC
            // bug 105329).
            std::wstring name = stem;
            name.append(std::to_wstring(++made_));
            std::filesystem::path folder = base / name;
            if (::CreateDirectoryW(folder.c_str(), nullptr)) {
                path_ = std::move(folder);
                return;
            }
            last_error = ::GetLastError();
        }
        ADD_FAILURE() << "cannot create a folder under " << base << " (error " << last_error << ")";
#else
        std::string name = (base / prefix).string() + "XXXXXX";
        if (::mkdtemp(name.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed for " << name;
            return;
        }
        path_ = name;
#endif
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        if (path_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }

private:
#ifdef _WIN32
    static inline unsigned made_ = 0;
#endif
    std::filesystem::path path_;
};

}  // namespace velmarch::testing
