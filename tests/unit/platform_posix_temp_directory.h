#pragma once
// A fresh directory under GoogleTest's temporary directory, removed with
// everything in it when the test ends.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "support/test_paths.h"

namespace velmarch::testing {

class TempDirectory {
public:
    TempDirectory() {
        std::string name = ::testing::TempDir() + "velmarch-posix-XXXXXX";
        if (::mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << name;
        path_ = name;
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace velmarch::testing
