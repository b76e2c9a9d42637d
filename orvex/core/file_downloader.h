#pragma once
// The process-wide file cache on disk: a remote file is downloaded once into
// <caches>/orvex/<category>/<SHA-256 of the whole URL><extension of its last path component>,
// reused for 30 calendar days and deleted by an hourly clean-up after that. Keyed by the whole URL:
// two creatives' "…/a/icon.png" and "…/b/icon.png" are two files. Categories: "ad" (splash
// creatives), "js" (the ad player script, kept under its own name), "icon" and "cover" (native
// ad images).
//
// Completions run on the HTTP client's thread after a download, or synchronously on the caller's
// thread for a fresh file; callers that touch the screen hop to the main queue themselves. A
// failed or partial download never leaves a file at the destination: the client's temporary file
// is moved into place only once complete.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "orvex/core/simple_logger.h"
#include "orvex/platform/platform.h"
#include "orvex/platform/view.h"

namespace orvex {

class FileDownloader : public std::enable_shared_from_this<FileDownloader> {
 public:
  static constexpr int cacheFileDeletionPeriodInDays = 30;
  static constexpr double cacheClearIntervalInSeconds = 3600.0;

  // Bound to the shared Orvex instance's platform; rebuilt when that is replaced.
  static std::shared_ptr<FileDownloader> shared();
  explicit FileDownloader(const OrvexPlatform& platform);

  // The root "orvex" in the caches directory, or a category below it.
  std::filesystem::path directory(const std::optional<std::string>& subdirectory = {}) const;

  // Where `url` is kept in the category; none for text that does not parse as a URL.
  std::optional<std::filesystem::path> fileFor(const std::string& url,
                                               const std::string& subdirectory) const;

  // The file kept for `url` when it is there and young enough to use without the network.
  std::optional<std::filesystem::path> freshFile(const std::string& url,
                                                 const std::string& subdirectory) const;

  // Prefetch: makes sure the file is there.
  void download(const std::string& url, const std::string& subdirectory);
  void download(const std::string& url, const std::string& subdirectory,
                std::function<void(std::optional<std::filesystem::path>)> completion);
  void downloadImage(const std::string& url, const std::string& subdirectory,
                     std::function<void(std::optional<Image>)> completion);
  // The same, kept under `fileName`: for a file its owner finds by that name (the player script,
  // one file whatever its version). The name is a plain file name, never a path.
  void downloadAs(const std::string& url, const std::string& subdirectory,
                  const std::string& fileName,
                  std::function<void(std::optional<std::filesystem::path>)> completion);

  // Starts a background clean-up unless one started less than an hour ago.
  bool cleanUpIfNeeded();
  // Removes files older than 30 calendar days below `directory` (default: the root).
  void deleteOldFiles(const std::optional<std::filesystem::path>& directory = {});

 private:
  using Done = std::function<void(std::optional<std::filesystem::path>)>;
  void fetch(const std::string& url, const std::filesystem::path& destination, Done completion);
  WallTime cutoff() const;
  // False when the walk must end (a listing or a removal failed).
  bool deleteOldFilesIn(const std::filesystem::path& directory, WallTime cutoff);

  OrvexPlatform platform_;
  SimpleLogger logger_{"FileDownloader"};
  std::mutex mutex_;
  std::shared_ptr<HttpTask> task_;
  std::optional<WallTime> lastFileDeletionDate_;
};

}  // namespace orvex
