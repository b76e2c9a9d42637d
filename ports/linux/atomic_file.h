#pragma once
// Crash-safe file replacement: a crash at any moment leaves the old or the new contents.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvex::linux_port {

// Writes a temporary file beside `path`, syncs it, renames it over `path` and, when `durable`,
// syncs the directory. Returns the reason on failure (the old file is then untouched).
std::optional<std::string> replaceFileAtomically(const std::filesystem::path& path,
                                                 std::string_view contents, bool durable);
// Unlinks `path` and syncs its directory; a missing file is success. `removed` tells whether
// there was a file.
std::optional<std::string> removeFileDurably(const std::filesystem::path& path,
                                             bool* removed = nullptr);
// Removes temporary files of replaceFileAtomically for `path` left by processes that are gone.
void removeStaleTemporaries(const std::filesystem::path& path);

}  // namespace orvex::linux_port
