#pragma once
// The file system of the Linux ports: the real one, with the caches and temporary directories
// the host chooses. Files it writes or moves into place are stamped with the port's clock, so
// that ages computed from modification dates agree with the SDK's notion of now (virtual time
// included).

#include <memory>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/files.h"

namespace orvex::linux_port {

class ORVEX_API LocalFileSystem : public FileSystem {
 public:
  // Without a clock, modification dates are the system's own.
  LocalFileSystem(std::filesystem::path cachesDirectory, std::filesystem::path temporaryDirectory,
                  std::shared_ptr<Clock> clock = nullptr);

  std::filesystem::path cachesDirectory() const override { return caches_; }
  std::filesystem::path temporaryDirectory() const override { return temporary_; }
  bool exists(const std::filesystem::path& path) const override;
  bool isDirectory(const std::filesystem::path& path) const override;
  FileResult createDirectories(const std::filesystem::path& path) override;
  using FileSystem::readFile;
  std::optional<std::string> readFile(const std::filesystem::path& path,
                                      std::size_t maxBytes) const override;
  FileResult writeFile(const std::filesystem::path& path, std::string_view contents) override;
  std::optional<WallTime> modificationTime(const std::filesystem::path& path) const override;
  std::optional<std::vector<DirectoryEntry>> listDirectory(
      const std::filesystem::path& path, FileError* error = nullptr) const override;
  // Fails with Code::exists when `to` exists; works across file systems.
  FileResult move(const std::filesystem::path& from, const std::filesystem::path& to) override;
  FileResult remove(const std::filesystem::path& path) override;

  // Sets a modification date (tests age cached files with it).
  FileResult setModificationTime(const std::filesystem::path& path, WallTime time);

 private:
  void stamp(const std::filesystem::path& path);

  std::filesystem::path caches_;
  std::filesystem::path temporary_;
  std::shared_ptr<Clock> clock_;
};

}  // namespace orvex::linux_port
