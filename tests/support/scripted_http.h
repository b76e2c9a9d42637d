#pragma once
// An HttpClient whose answers a test scripts. Completions are posted to the port's global queue,
// so in virtual time they run at the next advance, deterministically.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvex/platform/dispatch.h"
#include "orvex/platform/http.h"

namespace orvex::testing_support {

class ScriptedHttpClient : public HttpClient {
 public:
  using Handler = std::function<HttpResult(const HttpRequest&)>;

  void attach(std::shared_ptr<Dispatcher> dispatcher);
  // Answers every later request; the default answers 404.
  void respond(Handler handler);
  std::vector<HttpRequest> requests() const;
  // Off: requests are answered but not kept (long runs).
  void setRecording(bool recording);
  // Answers every later download (kept apart from requests()); the default fails with
  // noConnection. A response below 400 is written to a temporary file.
  void respondToDownloads(Handler handler);
  std::vector<std::string> downloads() const;

  std::shared_ptr<HttpTask> send(HttpRequest request,
                                 std::function<void(HttpResult)> completion) override;
  std::shared_ptr<HttpTask> download(std::string url,
                                     std::function<void(DownloadResult)> completion) override;

  static HttpResult answer(int status, std::string body);
  static HttpResult failure(HttpError::Kind kind);

 private:
  mutable std::mutex mutex_;
  std::weak_ptr<Dispatcher> dispatcher_;
  Handler handler_;
  std::vector<HttpRequest> requests_;
  bool recording_ = true;
  Handler downloadHandler_;
  std::vector<std::string> downloads_;
  int downloadCount_ = 0;
};

// The query text a recorded request carried.
std::string queryOf(const HttpRequest& request);
// "KEY value" of every metric (invoke mutation) among `requests`, in order: "AD_IMPR tx@unit".
std::vector<std::string> metricsOf(const std::vector<HttpRequest>& requests);
// The header's value, or "" when absent.
std::string headerOf(const HttpRequest& request, const std::string& name);

}  // namespace orvex::testing_support
