#pragma once

#include <filesystem>

namespace capture {

// Whether writing to `path` would write into the tool's own standard output, the record stream:
// the path names the same file (device and inode) as descriptor 1, e.g. "/dev/stdout", a
// hard link, or the file the parent redirected standard output to. A character device is never
// the record stream's to lose ("/dev/null" is fine even when standard output is it too).
bool isStandardOutput(const std::filesystem::path& path);

}  // namespace capture
