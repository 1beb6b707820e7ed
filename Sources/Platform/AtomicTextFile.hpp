#pragma once

#include <filesystem>
#include <string>

namespace quorvane {

// Small text files that are either wholly old or wholly new: written beside the target under a
// temporary name, flushed to disk, then renamed over it.
class AtomicTextFile {
public:
    // Creates missing parent folders. Throws std::system_error with the failing call's errno.
    static void write(const std::filesystem::path& path, const std::string& contents);
};

} // namespace quorvane
