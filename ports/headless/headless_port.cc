#include "ports/headless/headless_port.h"

#include <algorithm>
#include <atomic>

#include "ports/headless/headless_media.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"
#include "ports/headless/virtual_time.h"
#include "ports/linux/device.h"
#include "ports/linux/image_decoder.h"
#include "ports/linux/real_time_loop.h"
#include "ports/linux/recorded_haptics.h"

namespace orvex::headless {
namespace {

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
    port.loop = std::make_shared<linux_port::RealTimeLoop>();
    if (options.loopOnOwnThread) port.loop->startOwnThread();
    p.dispatcher = port.loop;
    p.clock = port.loop;
  }

  auto services = linux_port::makeServices(std::move(options), p.dispatcher, p.clock);
  if (port.virtualTime) {
    services.http = std::make_shared<TrackedHttpClient>(services.http, port.virtualTime);
  }
  services.install(p);
  p.images = std::make_shared<linux_port::CodecImageDecoder>();
  port.store = services.store;
  port.lifecycle = services.lifecycle;
  port.log = services.log;
  port.device = services.device;
  port.files = services.files;

  HeadlessUserInterfaceOptions ui;
  const ScreenSize screen = port.device->screenSize();
  ui.screenBounds = Rect(0, 0, screen.width, screen.height);
  ui.interfaceStyle = port.device->interfaceStyle();
  port.ui = HeadlessUserInterface::create(p.dispatcher->mainQueue(), ui);
  port.webViews = std::make_shared<HeadlessWebViews>(p.dispatcher);
  port.ui->setWebViewFactory(
      [views = port.webViews](const WebViewConfiguration& c) { return views->make(c); });
  p.ui = port.ui;
  port.haptics = std::make_shared<linux_port::RecordedHaptics>();
  p.haptics = port.haptics;
  port.media = std::make_shared<HeadlessMedia>(p.dispatcher, p.clock);
  p.media = port.media;
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
