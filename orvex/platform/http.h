#pragma once
// HTTP client: POSTs to the ad service and GET downloads for the file cache. Implementations reuse
// connections and always verify TLS certificates and host names.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "orvex/platform/dispatch.h"

namespace orvex {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  HttpHeaders headers;  // sent in this order
  std::string body;
  Duration timeout = std::chrono::seconds(10);
  // Answers whose body is larger fail with HttpError::Kind::tooLarge.
  std::size_t maxResponseBytes = 4 * 1024 * 1024;
};

struct HttpResponse {
  int status = 0;
  HttpHeaders headers;
  std::string body;
};

struct HttpError {
  enum class Kind {
    noConnection,            // the device has no network at all (no route)
    cannotFindHost,          // the name did not resolve
    cannotConnect,           // refused, unreachable host, or no answer to the connect
    connectionLost,          // reset or broken while the exchange ran
    secureConnectionFailed,  // TLS failed, the certificate or host name included
    timedOut,
    cancelled,
    tooLarge,
    badResponse,
    other
  };
  Kind kind = Kind::other;
  std::string message;
};

// Exactly one of response or error is set.
struct HttpResult {
  std::optional<HttpResponse> response;
  std::optional<HttpError> error;
};

struct DownloadResult {
  // The downloaded file in a temporary location; the caller moves it away.
  std::optional<std::filesystem::path> file;
  std::optional<HttpError> error;
  int status = 0;
};

// A started transfer. Cancelling delivers an error of kind `cancelled` (if not finished yet).
class ORVEX_API HttpTask {
 public:
  virtual ~HttpTask() = default;
  virtual void cancel() = 0;
};

class ORVEX_API HttpClient {
 public:
  virtual ~HttpClient() = default;
  // `completion` runs once, on a thread of the client's choosing (never inline).
  virtual std::shared_ptr<HttpTask> send(HttpRequest request,
                                         std::function<void(HttpResult)> completion) = 0;
  // The same with `completion` run as a task of `queue`: without a hand-off when `queue` is one
  // of the client's own (makeSerialQueue), else posted there. Nothing runs once `queue` is gone.
  virtual std::shared_ptr<HttpTask> sendOn(std::shared_ptr<TaskQueue> queue, HttpRequest request,
                                           std::function<void(HttpResult)> completion) {
    std::weak_ptr<TaskQueue> target = queue;
    return send(std::move(request), [target, completion =
                                                 std::move(completion)](HttpResult result) mutable {
      if (auto q = target.lock())
        q->post([completion = std::move(completion), result = std::move(result)]() mutable {
          completion(std::move(result));
        });
    });
  }
  // A serial queue running on the client's own network thread, so that work consuming answers
  // needs no thread hand-off; nothing when the client has no such thread. Its tasks run between
  // transfers (short, never waiting for the network) and its delays are real time.
  virtual std::shared_ptr<TaskQueue> makeSerialQueue(const std::string& /*label*/) {
    return nullptr;
  }
  // GET `url` into a temporary file. Statuses of 400 and above are errors (kind badResponse).
  virtual std::shared_ptr<HttpTask> download(std::string url,
                                             std::function<void(DownloadResult)> completion) = 0;
};

}  // namespace orvex
