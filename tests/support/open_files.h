// The temporary files of the utility files this process holds open (unlinked, each named after
// its utility file), for tests of how many a phase keeps.
#pragma once
#include <filesystem>
#include <string>
#include <system_error>

namespace velloc::testing {

inline int openTempFiles() {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (!ec && target.find("/velloc-") != std::string::npos) ++n;
    }
    return n;
}

} // namespace velloc::testing
