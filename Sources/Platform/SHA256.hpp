#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quorvane {

// The SHA-256 of a file's contents as lowercase hexadecimal; none when it cannot be read.
std::optional<std::string> sha256OfFile(const std::filesystem::path& path);

} // namespace quorvane
