#pragma once
// What the demo prints: lines stamped with the time since start, and an HTTP client that prints
// every exchange the SDK makes before handing it to the real one.

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/http.h"

namespace demo {

class Timeline {
 public:
  // Safe from any thread: one printf per line.
  void say(const std::string& text) const {
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (clock_) {
      t = followedFrom_ +
          std::chrono::duration<double>(clock_->monotonicNow() - clockStart_).count();
    }
    std::printf("[%7.3f s] %s\n", t, text.c_str());
    std::fflush(stdout);
  }
  // From now on the times are `clock`'s (a port in virtual time), continuing from here. Before
  // any other thread prints.
  void followClock(std::shared_ptr<orvex::Clock> clock) {
    followedFrom_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    clockStart_ = clock->monotonicNow();
    clock_ = std::move(clock);
  }

 private:
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::shared_ptr<orvex::Clock> clock_;
  orvex::MonotonicTime clockStart_;
  double followedFrom_ = 0;
};

std::string shorten(const std::string& text, std::size_t max = 96);

// The GraphQL operation a request body carries ("requestAd", "invoke AD_IMPR t@u", …).
std::string describeBody(const std::string& body);

class TimelineHttpClient : public orvex::HttpClient {
 public:
  TimelineHttpClient(std::shared_ptr<orvex::HttpClient> inner, std::shared_ptr<Timeline> timeline)
      : inner_(std::move(inner)), timeline_(std::move(timeline)) {}

  std::shared_ptr<orvex::HttpTask> send(orvex::HttpRequest request,
                                        std::function<void(orvex::HttpResult)> completion) override;
  std::shared_ptr<orvex::HttpTask> download(
      std::string url, std::function<void(orvex::DownloadResult)> completion) override;

 private:
  std::shared_ptr<orvex::HttpClient> inner_;
  std::shared_ptr<Timeline> timeline_;
};

}  // namespace demo
