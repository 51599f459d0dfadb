// What an output path names. Outputs are written beside their target and renamed over it, so
// that a failed run never leaves half a file; a rename must not replace what is no regular file
// (a device such as /dev/stdout, a pipe) or a symbolic link the user made.
#pragma once
#include <string>

namespace velloc::host {

enum class TargetKind {
    Absent,  // nothing there yet
    Regular, // a regular file (through any links)
    Folder,  // a directory
    Other,   // a device, pipe or socket: written in place, never replaced
};

// The kind of path's target; resolved is where to write: path with its symbolic links
// followed (so that a link stays a link), or path itself when it names nothing yet.
TargetKind fileTarget(const std::string& path, std::string& resolved);

} // namespace velloc::host
