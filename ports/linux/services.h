#pragma once
// The services every Linux port shares, whatever draws its screen: files, the store, HTTP over
// libcurl, device facts and the bundle, the application life cycle and the log. A port brings
// its own dispatcher and clock (virtual time, a thread of its own, the GLib main context) and
// its screen.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>

#include "orvex/platform/platform.h"
#include "ports/linux/bounded_record.h"
#include "ports/linux/device.h"

namespace orvex::linux_port {

class FileStore;
class Lifecycle;
class LinuxDevice;
class LocalFileSystem;
class MemoryLog;

struct ServiceOptions {
  // Store suites live in dataDirectory/"defaults", caches in dataDirectory/"caches", temporary
  // files in dataDirectory/"tmp". Empty: a new directory under the system's temporary directory.
  std::filesystem::path dataDirectory;
  DeviceOptions device;
  BundleOptions bundle;
  OrvexDeployment deployment;
  // Echo every log line to stderr as well as keeping it in memory; unset, the port decides (the
  // desktop port echoes, the headless one does not).
  std::optional<bool> echoLog;
  // Keep only this many newest log lines.
  std::size_t logCapacity = kRecordCapacity;
  // Replaces the libcurl client (tests use a scripted transport).
  std::shared_ptr<HttpClient> http;
};

// The shared services with their concrete types, for ports and hosts that drive them.
struct ORVEX_API Services {
  std::shared_ptr<FileStore> store;
  std::shared_ptr<Lifecycle> lifecycle;
  std::shared_ptr<MemoryLog> log;
  std::shared_ptr<LinuxDevice> device;
  std::shared_ptr<LocalFileSystem> files;
  std::shared_ptr<AppBundle> bundle;
  std::shared_ptr<HttpClient> http;
  OrvexDeployment deployment;

  // Fills every member of `platform` but the dispatcher, the clock and the screen.
  void install(OrvexPlatform& platform) const;
};

// Builds the services over the port's dispatcher and clock. Going to the background makes the
// store durable under a background task.
ORVEX_API Services makeServices(ServiceOptions options,
                                const std::shared_ptr<Dispatcher>& dispatcher,
                                const std::shared_ptr<Clock>& clock);

// A fresh private directory under the system's temporary directory.
ORVEX_API std::filesystem::path makeTemporaryDataDirectory();

}  // namespace orvex::linux_port
