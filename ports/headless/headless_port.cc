#include "ports/headless/headless_port.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <system_error>

#include "ports/headless/curl_http_client.h"
#include "ports/headless/file_store.h"
#include "ports/headless/headless_device.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/headless/image_decoder.h"
#include "ports/headless/lifecycle.h"
#include "ports/headless/local_file_system.h"
#include "ports/headless/memory_log.h"
#include "ports/headless/real_time_loop.h"
#include "ports/headless/virtual_time.h"

namespace orvex::headless {
namespace {

namespace fs = std::filesystem;

// 2026-01-01T00:00:00Z
constexpr std::int64_t kDefaultVirtualStartSeconds = 1767225600;
constexpr auto kMaxRealWaitForTransfers = std::chrono::seconds(5);

// Marks transfers as work outside virtual time, so that runUntil lets them finish before the
// clock jumps ahead.
class TrackedHttpClient : public HttpClient {
 public:
  TrackedHttpClient(std::shared_ptr<HttpClient> inner, std::weak_ptr<VirtualTime> time)
      : inner_(std::move(inner)), time_(std::move(time)) {}

  std::shared_ptr<HttpTask> send(HttpRequest request,
                                 std::function<void(HttpResult)> completion) override {
    begin();
    return inner_->send(std::move(request),
                        [time = time_, completion = std::move(completion)](HttpResult r) {
                          if (completion) completion(std::move(r));
                          if (auto t = time.lock()) t->endExternalWork();
                        });
  }
  std::shared_ptr<HttpTask> download(std::string url,
                                     std::function<void(DownloadResult)> completion) override {
    begin();
    return inner_->download(std::move(url),
                            [time = time_, completion = std::move(completion)](DownloadResult r) {
                              if (completion) completion(std::move(r));
                              if (auto t = time.lock()) t->endExternalWork();
                            });
  }

 private:
  void begin() {
    if (auto t = time_.lock()) t->beginExternalWork();
  }
  std::shared_ptr<HttpClient> inner_;
  std::weak_ptr<VirtualTime> time_;
};

fs::path makeTemporaryDataDirectory() {
  std::error_code ec;
  auto base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "orvex-XXXXXX").string();
  if (::mkdtemp(pattern.data())) return pattern;
  return base / "orvex";
}

}  // namespace

HeadlessPort makeHeadlessPort(HeadlessOptions options) {
  HeadlessPort port;
  auto& p = port.platform;
  if (options.time == TimeMode::virtualTime) {
    const WallTime start =
        options.virtualStart.value_or(WallTime(std::chrono::seconds(kDefaultVirtualStartSeconds)));
    port.virtualTime = std::make_shared<VirtualTime>(start);
    p.dispatcher = port.virtualTime;
    p.clock = port.virtualTime;
  } else {
    port.loop = std::make_shared<RealTimeLoop>();
    if (options.loopOnOwnThread) port.loop->startOwnThread();
    p.dispatcher = port.loop;
    p.clock = port.loop;
  }

  const fs::path data =
      options.dataDirectory.empty() ? makeTemporaryDataDirectory() : options.dataDirectory;
  port.log = std::make_shared<MemoryLog>(options.echoLog, options.logCapacity);
  p.log = port.log;

  const std::string domain = options.bundle.bundleIdentifier.value_or("standard");
  port.store = std::make_shared<FileStore>(data / "defaults", domain, port.log);
  p.store = port.store;

  port.files = std::make_shared<LocalFileSystem>(data / "caches", data / "tmp", p.clock);
  p.files = port.files;
  p.bundle = std::make_shared<HeadlessBundle>(std::move(options.bundle));
  port.device = std::make_shared<HeadlessDevice>(std::move(options.device));
  p.device = port.device;

  port.lifecycle = std::make_shared<Lifecycle>(p.dispatcher);
  p.lifecycle = port.lifecycle;
  // Going to the background makes the store durable, under a background task as a phone
  // platform requires, without the main thread waiting for the disk.
  port.lifecycle->observeForever(
      AppNotification::didEnterBackground, [store = std::weak_ptr<FileStore>(port.store),
                                            lifecycle = std::weak_ptr<Lifecycle>(port.lifecycle)] {
        auto s = store.lock();
        auto l = lifecycle.lock();
        if (!s || !l) return;
        const auto id = l->beginBackgroundTask("Orvex store flush", nullptr);
        s->flushAsync([lifecycle, id] {
          if (auto l = lifecycle.lock()) l->endBackgroundTask(id);
        });
      });

  std::shared_ptr<HttpClient> http =
      options.http ? std::move(options.http) : std::make_shared<CurlHttpClient>();
  if (port.virtualTime) http = std::make_shared<TrackedHttpClient>(http, port.virtualTime);
  p.http = std::move(http);
  p.deployment = std::move(options.deployment);

  HeadlessUserInterfaceOptions ui;
  const ScreenSize screen = port.device->screenSize();
  ui.screenBounds = Rect(0, 0, screen.width, screen.height);
  ui.interfaceStyle = port.device->interfaceStyle();
  port.ui = HeadlessUserInterface::create(p.dispatcher->mainQueue(), ui);
  port.ui->setImageDecoder(decodeImageBytes);
  port.webViews = std::make_shared<HeadlessWebViews>(p.dispatcher);
  port.ui->setWebViewFactory(
      [views = port.webViews](const WebViewConfiguration& c) { return views->make(c); });
  p.ui = port.ui;
  return port;
}

void HeadlessPort::runFor(double seconds) const {
  if (virtualTime) {
    virtualTime->advance(seconds);
  } else if (loop) {
    loop->runFor(seconds);
  }
}

bool HeadlessPort::runUntil(const std::function<bool()>& done, double timeoutSeconds) const {
  if (loop) return loop->runUntil(done, timeoutSeconds);
  if (!virtualTime) return done();
  auto& vt = *virtualTime;
  const WallTime deadline = vt.now() + std::chrono::duration_cast<WallTime::duration>(
                                           secondsToDuration(std::max(timeoutSeconds, 0.0)));
  const auto realLimit = std::chrono::steady_clock::now() + kMaxRealWaitForTransfers;
  for (;;) {
    vt.runUntilIdle();
    if (done()) return true;
    if (vt.externalWorkCount() > 0 && std::chrono::steady_clock::now() < realLimit) {
      vt.waitForActivity(std::chrono::milliseconds(10));
      continue;
    }
    const WallTime now = vt.now();
    if (now >= deadline) return false;
    if (!vt.runNext(deadline - now)) {
      vt.advance(deadline - now);
      return done();
    }
  }
}

}  // namespace orvex::headless
