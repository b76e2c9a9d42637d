#include "orvex/server/orvex_connector.h"

#include <cstdio>

#include "orvex/core/json.h"
#include "orvex/core/orvex_config.h"

namespace orvex {

std::optional<Duration> OrvexNetworkRetryPolicy::retryDelay(const ServerError& failure,
                                                            int retryCount) {
  if (failure.kind == ServerError::Kind::status && failure.statusCode == 401) return std::nullopt;
  if (failure.kind == ServerError::Kind::transport &&
      failure.transport == HttpError::Kind::noConnection)
    return std::nullopt;
  if (retryCount >= retryLimit) return std::nullopt;
  double seconds = retryCount + 1;
  char millis[32];
  std::snprintf(millis, sizeof millis, "%.1f", seconds * 1000.0);
  logger.log(std::string("retrying request in ") + millis + "ms.");
  return secondsToDuration(seconds);
}

struct OrvexConnector::Exchange {
  std::string query;
  std::string url;
  Decode decode;
  Done done;
  int retryCount = 0;
};

namespace {

// The client's own queue when it offers one (answers then reach it without a thread hand-off),
// else one of the dispatcher's.
std::shared_ptr<TaskQueue> makeQueue(const OrvexPlatform& platform, const std::string& label) {
  if (auto own = platform.http->makeSerialQueue(label)) return own;
  return platform.dispatcher->makeSerialQueue(label, QueuePriority::userInteractive);
}

}  // namespace

OrvexConnector::OrvexConnector(const OrvexPlatform& platform, OrvexConfig& config)
    : platform_(platform),
      config_(config),
      rootQueue_(makeQueue(platform, "com.lumenfold.OrvexAds.api-root")),
      requestQueue_(makeQueue(platform, "com.lumenfold.OrvexAds.api-request")) {}

void OrvexConnector::post(std::string query, std::string url, Decode decode, Done done) {
  auto exchange = std::make_shared<Exchange>(
      Exchange{std::move(query), std::move(url), std::move(decode), std::move(done), 0});
  std::weak_ptr<OrvexConnector> weak = weak_from_this();
  rootQueue_->post([weak, exchange] {
    if (auto self = weak.lock()) self->attempt(exchange);
  });
}

void OrvexConnector::attempt(std::shared_ptr<Exchange> exchange) {
  HttpRequest request;
  request.method = "POST";
  request.url = exchange->url;
  request.headers.emplace_back("X-Ios-Bundle-Identifier",
                               platform_.bundle->bundleIdentifier().value_or(""));
  std::string appKey = config_.appKey();
  if (!appKey.empty()) request.headers.emplace_back("Authorization", std::move(appKey));
  request.headers.emplace_back("Content-Type", "application/json");
  request.body = json::write(Value(ValueDict{{"query", exchange->query}}));
  request.timeout = secondsToDuration(retryPolicy_.timeoutInterval);

  std::weak_ptr<OrvexConnector> weak = weak_from_this();
  platform_.http->sendOn(requestQueue_, std::move(request),
                         [weak, exchange](HttpResult result) mutable {
                           if (auto self = weak.lock())
                             self->finishAttempt(exchange, std::move(result));
                         });
}

void OrvexConnector::finishAttempt(std::shared_ptr<Exchange> exchange, HttpResult result) {
  std::optional<ServerError> failure;
  if (result.error || !result.response) {
    ServerError e;
    e.kind = ServerError::Kind::transport;
    if (result.error) {
      e.transport = result.error->kind;
      e.message = result.error->message;
    }
    failure = e;
  } else if (result.response->status >= 400) {
    ServerError e;
    e.kind = ServerError::Kind::status;
    e.statusCode = result.response->status;
    failure = e;
  } else {
    std::string why;
    auto body = json::parse(result.response->body, &why);
    const Value* data = body ? body->find("data") : nullptr;
    if (!body || !body->asDict()) {
      if (why.empty()) why = "the answer is not a JSON object";
    } else if (!data || !data->asDict()) {
      why = "the answer has no data";
    } else if (auto rejected = exchange->decode(*data)) {
      why = *rejected;
    } else {
      why.clear();
      exchange->done(std::nullopt);
      return;
    }
    ServerError e;
    e.kind = ServerError::Kind::decoding;
    e.message = why;
    failure = e;
  }

  if (auto delay = retryPolicy_.retryDelay(*failure, exchange->retryCount)) {
    ++exchange->retryCount;
    std::weak_ptr<OrvexConnector> weak = weak_from_this();
    requestQueue_->postAfter(*delay, [weak, exchange] {
      if (auto self = weak.lock()) self->attempt(exchange);
    });
    return;
  }
  exchange->done(std::move(failure));
}

void OrvexConnector::postWithFallback(std::string query, std::string url, Decode decode,
                                      Done done) {
  std::weak_ptr<OrvexConnector> weak = weak_from_this();
  bool isFallback = url == config_.graphQLURL();
  std::string queryCopy = isFallback ? std::string() : query;
  post(std::move(query), std::move(url), decode,
       [weak, isFallback, queryCopy = std::move(queryCopy), decode,
        done = std::move(done)](std::optional<ServerError> error) mutable {
         auto self = weak.lock();
         if (!error || !self) {
           done(std::move(error));
           return;
         }
         if (errorCode(*error) == OrvexErrorCode::accountUsageLimitExceeded) {
           self->config_.setActive(false);
           done(std::move(error));
           return;
         }
         if (!isFallback) {
           self->postWithFallback(std::move(queryCopy), self->config_.graphQLURL(),
                                  std::move(decode), std::move(done));
           return;
         }
         done(std::move(error));
       });
}

}  // namespace orvex
