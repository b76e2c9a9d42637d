#include "ports/linux/local_file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "ports/linux/atomic_file.h"

namespace orvex::linux_port {
namespace {

namespace fs = std::filesystem;

FileError errorFrom(const std::error_code& ec, const std::string& what) {
  FileError e;
  e.message = what + ": " + ec.message();
  if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
    e.code = FileError::Code::notFound;
  } else if (ec == std::errc::file_exists || ec == std::errc::directory_not_empty) {
    e.code = FileError::Code::exists;
  } else if (ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
             ec == std::errc::read_only_file_system) {
    e.code = FileError::Code::permission;
  } else {
    e.code = FileError::Code::other;
  }
  return e;
}

FileError errnoError(const std::string& what) {
  return errorFrom(std::error_code(errno, std::generic_category()), what);
}

std::optional<WallTime> mtimeOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  const auto since =
      std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec);
  return WallTime(std::chrono::duration_cast<WallTime::duration>(since));
}

}  // namespace

LocalFileSystem::LocalFileSystem(fs::path cachesDirectory, fs::path temporaryDirectory,
                                 std::shared_ptr<Clock> clock)
    : caches_(std::move(cachesDirectory)),
      temporary_(std::move(temporaryDirectory)),
      clock_(std::move(clock)) {
  std::error_code ec;
  fs::create_directories(caches_, ec);
  fs::create_directories(temporary_, ec);
}

bool LocalFileSystem::exists(const fs::path& path) const {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool LocalFileSystem::isDirectory(const fs::path& path) const {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

FileResult LocalFileSystem::createDirectories(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return std::nullopt;
  if (fs::exists(fs::symlink_status(path, ec))) {
    return FileError{FileError::Code::exists, path.string() + " exists and is not a directory"};
  }
  fs::create_directories(path, ec);
  if (ec) return errorFrom(ec, "create " + path.string());
  if (!fs::is_directory(path, ec)) {
    return FileError{FileError::Code::exists, path.string() + " exists and is not a directory"};
  }
  return std::nullopt;
}

std::optional<std::string> LocalFileSystem::readFile(const fs::path& path,
                                                     std::size_t maxBytes) const {
  // Non-blocking, so that a pipe in the file's place cannot hold the caller in open().
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return std::nullopt;
  }
  std::string out;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      if (n < 0) return std::nullopt;
      return out;
    }
    // The file may have grown since it was measured.
    if (static_cast<std::size_t>(n) > maxBytes - out.size()) {
      ::close(fd);
      return std::nullopt;
    }
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

FileResult LocalFileSystem::writeFile(const fs::path& path, std::string_view contents) {
  // Cache files need atomicity, not durability: skip the fsyncs.
  if (auto error = replaceFileAtomically(path, contents, false)) {
    std::error_code ec;
    if (!fs::is_directory(path.parent_path(), ec)) {
      return FileError{FileError::Code::notFound, "write " + path.string() + ": " + *error};
    }
    return FileError{FileError::Code::other, "write " + path.string() + ": " + *error};
  }
  stamp(path);
  return std::nullopt;
}

std::optional<WallTime> LocalFileSystem::modificationTime(const fs::path& path) const {
  return mtimeOf(path);
}

std::optional<std::vector<DirectoryEntry>> LocalFileSystem::listDirectory(const fs::path& path,
                                                                          FileError* error) const {
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  if (ec) {
    if (error) *error = errorFrom(ec, "list " + path.string());
    return std::nullopt;
  }
  std::vector<DirectoryEntry> entries;
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) break;
    DirectoryEntry e;
    e.name = it->path().filename().string();
    if (e.name.empty() || e.name.front() == '.') continue;
    std::error_code typeEc;
    e.isDirectory = it->is_directory(typeEc);
    e.modificationTime = mtimeOf(it->path());
    entries.push_back(std::move(e));
  }
  if (ec) {
    if (error) *error = errorFrom(ec, "list " + path.string());
    return std::nullopt;
  }
  return entries;
}

FileResult LocalFileSystem::move(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(from, ec))) {
    return FileError{FileError::Code::notFound, "move: " + from.string() + " does not exist"};
  }
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    const int err = errno;
    if (err != EXDEV && err != EINVAL && err != ENOSYS) {
      return errorFrom(std::error_code(err, std::generic_category()),
                       "move " + from.string() + " to " + to.string());
    }
    // Another file system (or no renameat2 support): copy, then remove the source.
    if (fs::exists(fs::symlink_status(to, ec))) {
      return FileError{FileError::Code::exists, "move: " + to.string() + " exists"};
    }
    if (err == EXDEV) {
      fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
      if (ec) {
        std::error_code ignored;
        fs::remove_all(to, ignored);
        return errorFrom(ec, "move " + from.string());
      }
      fs::remove_all(from, ec);
    } else {
      fs::rename(from, to, ec);
      if (ec) return errorFrom(ec, "move " + from.string());
    }
  }
  stamp(to);
  return std::nullopt;
}

FileResult LocalFileSystem::remove(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(path, ec))) {
    return FileError{FileError::Code::notFound, "remove: " + path.string() + " does not exist"};
  }
  fs::remove_all(path, ec);
  if (ec) return errorFrom(ec, "remove " + path.string());
  return std::nullopt;
}

FileResult LocalFileSystem::setModificationTime(const fs::path& path, WallTime time) {
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(ns / 1000000000);
  times[1].tv_nsec = static_cast<long>(ns % 1000000000);
  if (times[1].tv_nsec < 0) {
    times[1].tv_nsec += 1000000000;
    times[1].tv_sec -= 1;
  }
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return errnoError("touch");
  return std::nullopt;
}

void LocalFileSystem::stamp(const fs::path& path) {
  if (clock_) setModificationTime(path, clock_->now());
}

}  // namespace orvex::linux_port
