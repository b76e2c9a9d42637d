#include "ports/linux/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

namespace orvex::linux_port {
namespace {

namespace fs = std::filesystem;

std::string errnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

std::string tempPrefix(const fs::path& path) {
  return path.filename().string() + ".tmp-";
}

bool syncDirectory(const fs::path& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::optional<std::string> replaceFileAtomically(const fs::path& path, std::string_view contents,
                                                 bool durable) {
  static std::atomic<unsigned> counter{0};
  const fs::path temp = path.parent_path() / (tempPrefix(path) + std::to_string(::getpid()) + "-" +
                                              std::to_string(counter.fetch_add(1)));
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return errnoText("create");
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      auto error = errnoText("write");
      ::close(fd);
      ::unlink(temp.c_str());
      return error;
    }
    done += static_cast<std::size_t>(n);
  }
  if (durable && ::fsync(fd) != 0) {
    auto error = errnoText("fsync");
    ::close(fd);
    ::unlink(temp.c_str());
    return error;
  }
  ::close(fd);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    auto error = errnoText("rename");
    ::unlink(temp.c_str());
    return error;
  }
  if (durable && !syncDirectory(path.parent_path())) return errnoText("fsync directory");
  return std::nullopt;
}

std::optional<std::string> removeFileDurably(const fs::path& path, bool* removed) {
  if (removed) *removed = false;
  if (::unlink(path.c_str()) != 0) {
    if (errno == ENOENT) return std::nullopt;
    return errnoText("unlink");
  }
  if (removed) *removed = true;
  if (!syncDirectory(path.parent_path())) return errnoText("fsync directory");
  return std::nullopt;
}

void removeStaleTemporaries(const fs::path& path) {
  const std::string prefix = tempPrefix(path);
  std::error_code ec;
  for (fs::directory_iterator it(path.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(prefix, 0) != 0) continue;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    int pid = 0;
    auto [ptr, err] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (err != std::errc() || pid <= 0) continue;
    // A live writer may still rename its temporary into place.
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    fs::remove(it->path(), ignored);
  }
}

}  // namespace orvex::linux_port
