// Positioned reads of a file's bytes by name, for readers that take a block at a time.
#pragma once
#include <cstdint>
#include <string>

namespace velloc::host {

// Reads the file's bytes from offset on into buf, count of them or, when count is negative,
// all to the end: their number, fewer when the file is shorter; -1 with the reason in error.
// buf only grows, so a buffer used again is not cleared again.
std::int64_t readFileBytes(const std::string& path, std::int64_t offset, std::int64_t count,
                           std::string& buf, std::string& error);

} // namespace velloc::host
