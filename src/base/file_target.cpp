#include "base/file_target.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace velloc::host {

TargetKind fileTarget(const std::string& path, std::string& resolved) {
    resolved = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return TargetKind::Absent;
    if (S_ISLNK(st.st_mode)) {
        // A dangling link names the file it would point to.
        std::error_code ec;
        const std::filesystem::path to = std::filesystem::weakly_canonical(path, ec);
        if (!ec) resolved = to.string();
        if (::stat(resolved.c_str(), &st) != 0) return TargetKind::Absent;
    }
    if (S_ISREG(st.st_mode)) return TargetKind::Regular;
    if (S_ISDIR(st.st_mode)) return TargetKind::Folder;
    return TargetKind::Other;
}

} // namespace velloc::host
