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
  enum class Kind { noConnection, timedOut, cancelled, tooLarge, badResponse, other };
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
class HttpTask {
 public:
  virtual ~HttpTask() = default;
  virtual void cancel() = 0;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // `completion` runs once, on a thread of the client's choosing (never inline).
  virtual std::shared_ptr<HttpTask> send(HttpRequest request,
                                         std::function<void(HttpResult)> completion) = 0;
  // GET `url` into a temporary file. Statuses of 400 and above are errors (kind badResponse).
  virtual std::shared_ptr<HttpTask> download(std::string url,
                                             std::function<void(DownloadResult)> completion) = 0;
};

}  // namespace orvex
