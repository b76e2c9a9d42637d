#include "ports/linux/services.h"

#include <stdlib.h>

#include <string>
#include <system_error>

#include "ports/linux/curl_http_client.h"
#include "ports/linux/file_store.h"
#include "ports/linux/lifecycle.h"
#include "ports/linux/local_file_system.h"
#include "ports/linux/memory_log.h"

namespace orvex::linux_port {

namespace fs = std::filesystem;

fs::path makeTemporaryDataDirectory() {
  std::error_code ec;
  auto base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "orvex-XXXXXX").string();
  if (::mkdtemp(pattern.data())) return pattern;
  return base / "orvex";
}

Services makeServices(ServiceOptions options, const std::shared_ptr<Dispatcher>& dispatcher,
                      const std::shared_ptr<Clock>& clock) {
  Services s;
  const fs::path data =
      options.dataDirectory.empty() ? makeTemporaryDataDirectory() : options.dataDirectory;
  s.log = std::make_shared<MemoryLog>(options.echoLog.value_or(false), options.logCapacity);
  const std::string domain = options.bundle.bundleIdentifier.value_or("standard");
  s.store = std::make_shared<FileStore>(data / "defaults", domain, s.log);
  s.files = std::make_shared<LocalFileSystem>(data / "caches", data / "tmp", clock);
  s.bundle = std::make_shared<LinuxBundle>(std::move(options.bundle));
  s.device = std::make_shared<LinuxDevice>(std::move(options.device));
  s.lifecycle = std::make_shared<Lifecycle>(dispatcher);
  // Going to the background makes the store durable, under a background task as a phone
  // platform requires, without the main thread waiting for the disk.
  s.lifecycle->observeForever(
      AppNotification::didEnterBackground, [store = std::weak_ptr<FileStore>(s.store),
                                            lifecycle = std::weak_ptr<Lifecycle>(s.lifecycle)] {
        auto st = store.lock();
        auto l = lifecycle.lock();
        if (!st || !l) return;
        const auto id = l->beginBackgroundTask("Orvex store flush", nullptr);
        st->flushAsync([lifecycle, id] {
          if (auto l = lifecycle.lock()) l->endBackgroundTask(id);
        });
      });
  s.deployment = std::move(options.deployment);
  s.http = options.http ? std::move(options.http) : std::make_shared<CurlHttpClient>();
  return s;
}

void Services::install(OrvexPlatform& platform) const {
  platform.store = store;
  platform.lifecycle = lifecycle;
  platform.log = log;
  platform.device = device;
  platform.files = files;
  platform.bundle = bundle;
  platform.http = http;
  platform.deployment = deployment;
}

}  // namespace orvex::linux_port
