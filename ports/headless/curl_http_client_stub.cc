// TEMPORARY: stands in for the libcurl client until its implementation lands; every transfer
// fails with noConnection.
#include <thread>

#include "ports/headless/curl_http_client.h"

namespace orvex::headless {
namespace {

class StubTask : public HttpTask {
 public:
  void cancel() override {}
};

}  // namespace

struct CurlHttpClient::Impl {};

CurlHttpClient::CurlHttpClient() : impl_(std::make_unique<Impl>()) {}
CurlHttpClient::~CurlHttpClient() = default;

std::shared_ptr<HttpTask> CurlHttpClient::send(HttpRequest /*request*/,
                                               std::function<void(HttpResult)> completion) {
  // Never inline: completions run on a thread of the client's choosing.
  std::thread([completion = std::move(completion)] {
    HttpResult r;
    r.error = HttpError{HttpError::Kind::noConnection, "HTTP client not available"};
    if (completion) completion(std::move(r));
  }).detach();
  return std::make_shared<StubTask>();
}

std::shared_ptr<HttpTask> CurlHttpClient::download(std::string /*url*/,
                                                   std::function<void(DownloadResult)> completion) {
  std::thread([completion = std::move(completion)] {
    DownloadResult r;
    r.error = HttpError{HttpError::Kind::noConnection, "HTTP client not available"};
    if (completion) completion(std::move(r));
  }).detach();
  return std::make_shared<StubTask>();
}

std::size_t CurlHttpClient::connectionsOpened() const {
  return 0;
}

}  // namespace orvex::headless
