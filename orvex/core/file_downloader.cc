#include "orvex/core/file_downloader.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "orvex/core/crypto.h"
#include "orvex/core/orvex.h"
#include "orvex/core/seams.h"
#include "orvex/core/url.h"

namespace orvex {
namespace {

namespace fs = std::filesystem;

std::mutex& slotMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<FileDownloader>& slot() {
  static std::shared_ptr<FileDownloader> instance;
  return instance;
}

// The name a URL's file takes: the digest of the whole URL, so that files of different URLs
// never meet, plus the extension of its last path component (".png"), which tools and people
// read. An extension that is not short and alphanumeric is left out.
std::optional<std::string> fileNameOf(const std::string& url) {
  auto parsed = Url::parse(url);
  if (!parsed) return std::nullopt;
  const std::string& path = parsed->path();
  const auto slash = path.rfind('/');
  const std::string_view last =
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
  std::string name = sha256Hex(url);
  if (const auto dot = last.rfind('.'); dot != std::string_view::npos) {
    const std::string_view extension = last.substr(dot + 1);
    const bool plain =
        !extension.empty() && extension.size() <= 8 && std::ranges::all_of(extension, [](char c) {
          return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        });
    if (plain) name.append(".").append(extension);
  }
  return name;
}

// A caller's own name: one plain component, never one that climbs out of the category.
bool isPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

std::shared_ptr<FileDownloader> FileDownloader::shared() {
  const OrvexPlatform& platform = Orvex::shared().platform();
  std::lock_guard lock(slotMutex());
  auto& instance = slot();
  // The instance keeps its dispatcher alive, so a new platform's cannot share its address.
  if (!instance || instance->platform_.dispatcher != platform.dispatcher) {
    instance = std::make_shared<FileDownloader>(platform);
  }
  return instance;
}

FileDownloader::FileDownloader(const OrvexPlatform& platform) : platform_(platform) {}

fs::path FileDownloader::directory(const std::optional<std::string>& subdirectory) const {
  fs::path root = platform_.files->cachesDirectory() / "orvex";
  return subdirectory ? root / *subdirectory : root;
}

WallTime FileDownloader::cutoff() const {
  // Calendar days: the same local wall-clock time 30 days back, across any offset change.
  const WallTime now = platform_.clock->now();
  WallTime back = now - std::chrono::hours(24 * cacheFileDeletionPeriodInDays);
  back += std::chrono::seconds(platform_.clock->utcOffsetSeconds(now) -
                               platform_.clock->utcOffsetSeconds(back));
  return back;
}

std::optional<fs::path> FileDownloader::fileFor(const std::string& url,
                                                const std::string& subdirectory) const {
  auto name = fileNameOf(url);
  if (!name) return std::nullopt;
  return directory(subdirectory) / *name;
}

std::optional<fs::path> FileDownloader::freshFile(const std::string& url,
                                                  const std::string& subdirectory) const {
  auto file = fileFor(url, subdirectory);
  if (!file) return std::nullopt;
  auto modified = platform_.files->modificationTime(*file);
  if (!modified || *modified <= cutoff()) return std::nullopt;
  return file;
}

void FileDownloader::download(const std::string& url, const std::string& subdirectory) {
  fetch(url, fileFor(url, subdirectory).value_or(fs::path()), nullptr);
}

void FileDownloader::download(const std::string& url, const std::string& subdirectory,
                              std::function<void(std::optional<fs::path>)> completion) {
  fetch(url, fileFor(url, subdirectory).value_or(fs::path()), std::move(completion));
}

void FileDownloader::downloadAs(const std::string& url, const std::string& subdirectory,
                                const std::string& fileName,
                                std::function<void(std::optional<fs::path>)> completion) {
  const bool usable = Url::parse(url) && isPlainFileName(fileName);
  fetch(url, usable ? directory(subdirectory) / fileName : fs::path(), std::move(completion));
}

void FileDownloader::downloadImage(const std::string& url, const std::string& subdirectory,
                                   std::function<void(std::optional<Image>)> completion) {
  auto files = platform_.files;
  auto images = platform_.images;
  fetch(url, fileFor(url, subdirectory).value_or(fs::path()),
        [files, images, completion = std::move(completion)](std::optional<fs::path> file) {
          if (!completion) return;
          std::optional<Image> image;
          if (file && images) {
            if (auto bytes = files->readFile(*file)) image = images->decode(*bytes);
          }
          completion(std::move(image));
        });
}

void FileDownloader::fetch(const std::string& url, const fs::path& destination, Done completion) {
  auto fail = [&completion] {
    if (completion) completion(std::nullopt);
  };
  // An empty destination: the URL does not parse, or the caller's name is unusable.
  if (destination.empty()) return fail();
  const fs::path dir = destination.parent_path();
  auto& files = *platform_.files;
  if (!files.isDirectory(dir) && files.createDirectories(dir)) return fail();

  if (auto modified = files.modificationTime(destination); modified && *modified > cutoff()) {
    if (completion) completion(destination);
    return;
  }

  auto filesystem = platform_.files;
  auto task = platform_.http->download(
      url, [filesystem, destination, completion = std::move(completion)](DownloadResult result) {
        auto done = [&](std::optional<fs::path> file) {
          if (completion) completion(std::move(file));
        };
        if (result.error || !result.file) {
          if (result.file) filesystem->remove(*result.file);
          return done(std::nullopt);
        }
        if (filesystem->exists(destination) && filesystem->remove(destination)) {
          filesystem->remove(*result.file);
          return done(std::nullopt);
        }
        if (filesystem->move(*result.file, destination)) {
          filesystem->remove(*result.file);
          return done(std::nullopt);
        }
        done(destination);
      });
  std::lock_guard lock(mutex_);
  task_ = std::move(task);
}

bool FileDownloader::cleanUpIfNeeded() {
  const WallTime now = platform_.clock->now();
  {
    std::lock_guard lock(mutex_);
    if (lastFileDeletionDate_ &&
        now - *lastFileDeletionDate_ <
            std::chrono::duration_cast<WallTime::duration>(
                std::chrono::duration<double>(cacheClearIntervalInSeconds))) {
      return false;
    }
    lastFileDeletionDate_ = now;
  }
  platform_.dispatcher->globalQueue(QueuePriority::background)->post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->deleteOldFiles();
  });
  return true;
}

void FileDownloader::deleteOldFiles(const std::optional<fs::path>& directory) {
  deleteOldFilesIn(directory.value_or(this->directory()), cutoff());
}

bool FileDownloader::deleteOldFilesIn(const fs::path& directory, WallTime cutoff) {
  auto& files = *platform_.files;
  FileError error;
  auto entries = files.listDirectory(directory, &error);
  if (!entries) {
    // A missing directory (a root never created) is not worth a line, but ends the run all the
    // same, as every other error does.
    if (error.code != FileError::Code::notFound) {
      logger_.log("Error while deleting old files: " + error.message);
    }
    return false;
  }
  for (const auto& entry : *entries) {
    const fs::path path = directory / entry.name;
    if (entry.isDirectory) {
      if (!deleteOldFilesIn(path, cutoff)) return false;
    } else if (entry.modificationTime && *entry.modificationTime < cutoff) {
      if (auto failed = files.remove(path)) {
        if (failed->code != FileError::Code::notFound) {
          logger_.log("Error while deleting old files: " + failed->message);
        }
        return false;
      }
    }
  }
  return true;
}

namespace seams {
void cleanUpFileCacheIfNeeded() {
  FileDownloader::shared()->cleanUpIfNeeded();
}
}  // namespace seams

}  // namespace orvex
