#pragma once
// The connection to the ad service: every exchange is one POST of {"query": text} whose answer is
// {"data": {...}}. Requests start on the root queue and complete on the request queue; failed
// attempts are retried after 1 s and 2 s, and a failed endpoint falls back once to the graph
// endpoint.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "orvex/core/codes.h"
#include "orvex/core/simple_logger.h"
#include "orvex/platform/platform.h"
#include "orvex/server/server_error.h"

namespace orvex {

class OrvexConfig;

// Decides, after each failed attempt, whether and when to try again.
class ORVEX_API OrvexNetworkRetryPolicy {
 public:
  // The delay before the next attempt, or none; `retryCount` is the retries made so far.
  std::optional<Duration> retryDelay(const ServerError& failure, int retryCount);

  SimpleLogger logger{"RetryPolicy"};
  const int retryLimit = 2;
  const double timeoutInterval = 10.0;
  const int retryScaleFactor = 2;
};

class ORVEX_API OrvexConnector : public std::enable_shared_from_this<OrvexConnector> {
 public:
  // Reads `data` of an answer that passed validation; returns why it does not fit, or nothing.
  using Decode = std::function<std::optional<std::string>(const Value& data)>;
  // Runs once on the request queue: no error means the decoder accepted the answer.
  using Done = std::function<void(std::optional<ServerError>)>;

  OrvexConnector(const OrvexPlatform& platform, OrvexConfig& config);
  virtual ~OrvexConnector() = default;
  OrvexConnector(const OrvexConnector&) = delete;
  OrvexConnector& operator=(const OrvexConnector&) = delete;

  // One exchange on one endpoint, with the retry policy.
  void post(std::string query, std::string url, Decode decode, Done done);
  // post wrapped in the per-endpoint step: a 401 switches the SDK off; any other failure on a
  // primary endpoint is tried once more at the graph endpoint.
  void postWithFallback(std::string query, std::string url, Decode decode, Done done);

  TaskQueue& requestQueue() const { return *requestQueue_; }
  OrvexConfig& config() const { return config_; }
  const OrvexPlatform& platform() const { return platform_; }

 private:
  struct Exchange;
  void attempt(std::shared_ptr<Exchange> exchange);
  void finishAttempt(std::shared_ptr<Exchange> exchange, HttpResult result);

  const OrvexPlatform& platform_;
  OrvexConfig& config_;
  std::shared_ptr<TaskQueue> rootQueue_;
  std::shared_ptr<TaskQueue> requestQueue_;
  OrvexNetworkRetryPolicy retryPolicy_;
};

}  // namespace orvex
