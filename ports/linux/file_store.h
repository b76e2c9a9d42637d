#pragma once
// The key-value store on files: one file per suite in one directory. Reads come from memory;
// writes are coalesced and made durable on a background thread, each file replaced atomically.
// A file that fails its check is set aside and its suite starts empty. Values nest at most 128
// levels: set() refuses a deeper one (with a log line, changing nothing), and a file holding one
// loads without that key.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orvex/platform/log.h"
#include "orvex/platform/store.h"

namespace orvex::linux_port {

struct FileStoreCore;

// One suite (or the standard defaults) of a FileStore.
class ORVEX_API StoreSuite : public KeyValueStore {
 public:
  std::optional<Value> value(std::string_view key) const override;
  void set(std::string_view key, Value value) override;
  void remove(std::string_view key) override;
  std::vector<std::string> keys() const override;

  // Applies every change at once: readers and the file see all of them or none. An absent value
  // removes the key.
  void update(std::vector<std::pair<std::string, std::optional<Value>>> changes);
  const std::string& name() const { return name_; }
  const std::filesystem::path& file() const { return file_; }

  StoreSuite(std::string name, std::filesystem::path file, std::shared_ptr<SystemLog> log,
             std::weak_ptr<FileStoreCore> core);

 private:
  friend struct FileStoreCore;
  friend class FileStore;
  void ensureLoaded() const;  // with mutex_ held

  const std::string name_;
  const std::filesystem::path file_;
  const std::shared_ptr<SystemLog> log_;
  const std::weak_ptr<FileStoreCore> core_;
  mutable std::mutex mutex_;
  mutable bool loaded_ = false;
  mutable bool persist_ = true;  // false when a damaged file could not be set aside
  mutable ValueDict entries_;
  std::uint64_t generation_ = 0;
  std::uint64_t writtenGeneration_ = 0;  // writer thread only
};

class ORVEX_API FileStore : public KeyValueStoreProvider {
 public:
  // `standardDomain` names the standard defaults' file. Later writes wait `coalesceDelay` so that
  // bursts of changes reach the disk as one write.
  FileStore(std::filesystem::path directory, std::string standardDomain,
            std::shared_ptr<SystemLog> log,
            std::chrono::milliseconds coalesceDelay = std::chrono::milliseconds(20));
  // Makes every write durable, then stops the writer thread.
  ~FileStore() override;
  FileStore(const FileStore&) = delete;
  FileStore& operator=(const FileStore&) = delete;

  std::shared_ptr<KeyValueStore> standard() override { return standardSuite(); }
  std::shared_ptr<KeyValueStore> suite(std::string_view name) override { return openSuite(name); }
  void removeSuite(std::string_view name) override;
  void flush() override;

  std::shared_ptr<StoreSuite> standardSuite();
  // The suite named like the standard domain is the standard defaults.
  std::shared_ptr<StoreSuite> openSuite(std::string_view name);
  // Starts making every write so far durable without waiting; `done` runs on the writer thread
  // (or at once when there is nothing to write).
  void flushAsync(std::function<void()> done);

  const std::filesystem::path& directory() const;
  // The file a suite lives in.
  std::filesystem::path fileFor(std::string_view suiteName) const;
  // Files written or deleted so far (a set that changes nothing writes none).
  std::uint64_t diskWriteCount() const;

  // Bytes outside [A-Za-z0-9._-] (and a leading ".") become %XX; the empty name becomes "%".
  static std::string fileSafeName(std::string_view name);

 private:
  std::shared_ptr<FileStoreCore> core_;
};

}  // namespace orvex::linux_port
