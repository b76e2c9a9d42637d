#pragma once
// The file system as the SDK uses it: the caches directory, directories, modification dates,
// moves and deletions. Paths are absolute.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/export.h"

namespace orvex {

struct FileError {
  enum class Code { notFound, exists, permission, other };
  Code code = Code::other;
  std::string message;
};

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
  std::optional<WallTime> modificationTime;
};

// Returned by operations that may fail: no value means success.
using FileResult = std::optional<FileError>;

class ORVEX_API FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The application's caches directory in the user domain.
  virtual std::filesystem::path cachesDirectory() const = 0;
  // A directory for temporary files (downloads in progress).
  virtual std::filesystem::path temporaryDirectory() const = 0;
  virtual bool exists(const std::filesystem::path& path) const = 0;
  virtual bool isDirectory(const std::filesystem::path& path) const = 0;
  virtual FileResult createDirectories(const std::filesystem::path& path) = 0;
  // The contents of a regular file of at most `maxBytes`; nothing for a larger file (not read
  // past the limit), a directory, a device or a pipe.
  virtual std::optional<std::string> readFile(const std::filesystem::path& path,
                                              std::size_t maxBytes) const = 0;
  std::optional<std::string> readFile(const std::filesystem::path& path) const {
    return readFile(path, SIZE_MAX);
  }
  // Replaces the file atomically: readers see the old or the new contents, never a mix.
  virtual FileResult writeFile(const std::filesystem::path& path, std::string_view contents) = 0;
  virtual std::optional<WallTime> modificationTime(const std::filesystem::path& path) const = 0;
  // Entries in listing order, hidden files (names beginning with ".") skipped.
  virtual std::optional<std::vector<DirectoryEntry>> listDirectory(
      const std::filesystem::path& path, FileError* error = nullptr) const = 0;
  virtual FileResult move(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  // Removes a file or a whole directory tree.
  virtual FileResult remove(const std::filesystem::path& path) = 0;
};

}  // namespace orvex
