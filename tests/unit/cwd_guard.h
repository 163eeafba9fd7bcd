// Runs a test in a fresh, empty working directory (where the program keeps RS_Settings),
// and puts the old one back afterwards.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <string>

namespace vek::test {

class CwdGuard {
public:
    CwdGuard()
    {
        old_ = std::filesystem::current_path();
        static int n = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("vek-cwd-" + std::to_string(::getpid()) + "-" + std::to_string(++n));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
    }
    ~CwdGuard()
    {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path old_, dir_;
};

}  // namespace vek::test
