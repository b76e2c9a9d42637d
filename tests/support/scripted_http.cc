#include "tests/support/scripted_http.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "orvex/core/json.h"

namespace orvex::testing_support {
namespace {
class NoopTask : public HttpTask {
 public:
  void cancel() override {}
};
}  // namespace

void ScriptedHttpClient::attach(std::shared_ptr<Dispatcher> dispatcher) {
  std::lock_guard lock(mutex_);
  dispatcher_ = dispatcher;
}

void ScriptedHttpClient::respond(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<HttpRequest> ScriptedHttpClient::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void ScriptedHttpClient::setRecording(bool recording) {
  std::lock_guard lock(mutex_);
  recording_ = recording;
}

std::shared_ptr<HttpTask> ScriptedHttpClient::send(HttpRequest request,
                                                   std::function<void(HttpResult)> completion) {
  Handler handler;
  std::shared_ptr<Dispatcher> dispatcher;
  {
    std::lock_guard lock(mutex_);
    if (recording_) requests_.push_back(request);
    handler = handler_;
    dispatcher = dispatcher_.lock();
  }
  HttpResult result = handler ? handler(request) : answer(404, "");
  if (dispatcher) {
    dispatcher->globalQueue(QueuePriority::utility)
        ->post([completion = std::move(completion), result = std::move(result)] {
          completion(result);
        });
  }
  return std::make_shared<NoopTask>();
}

void ScriptedHttpClient::respondToDownloads(Handler handler) {
  std::lock_guard lock(mutex_);
  downloadHandler_ = std::move(handler);
}

std::vector<std::string> ScriptedHttpClient::downloads() const {
  std::lock_guard lock(mutex_);
  return downloads_;
}

std::shared_ptr<HttpTask> ScriptedHttpClient::download(
    std::string url, std::function<void(DownloadResult)> completion) {
  Handler handler;
  std::shared_ptr<Dispatcher> dispatcher;
  int number = 0;
  {
    std::lock_guard lock(mutex_);
    downloads_.push_back(url);
    handler = downloadHandler_;
    dispatcher = dispatcher_.lock();
    number = ++downloadCount_;
  }
  DownloadResult r;
  HttpRequest request;
  request.url = url;
  HttpResult answered = handler ? handler(request) : failure(HttpError::Kind::noConnection);
  if (answered.error) {
    r.error = answered.error;
  } else if (answered.response->status >= 400) {
    r.status = answered.response->status;
    r.error = HttpError{HttpError::Kind::badResponse, "scripted status"};
  } else {
    r.status = answered.response->status;
    auto file = std::filesystem::temp_directory_path() /
                ("orvex-scripted-" + std::to_string(::getpid()) + "-" + std::to_string(number));
    std::ofstream(file, std::ios::binary) << answered.response->body;
    r.file = file;
  }
  if (dispatcher) {
    dispatcher->globalQueue(QueuePriority::utility)
        ->post([completion = std::move(completion), r = std::move(r)] { completion(r); });
  }
  return std::make_shared<NoopTask>();
}

HttpResult ScriptedHttpClient::answer(int status, std::string body) {
  HttpResult r;
  r.response = HttpResponse{status, {}, std::move(body)};
  return r;
}

HttpResult ScriptedHttpClient::failure(HttpError::Kind kind) {
  HttpResult r;
  r.error = HttpError{kind, "scripted failure"};
  return r;
}

std::string queryOf(const HttpRequest& request) {
  auto body = json::parse(request.body);
  const Value* q = body ? body->find("query") : nullptr;
  return q && q->asString() ? *q->asString() : std::string();
}

std::vector<std::string> metricsOf(const std::vector<HttpRequest>& requests) {
  std::vector<std::string> out;
  for (const auto& r : requests) {
    const std::string q = queryOf(r);
    const auto key = q.find("key: \"");
    const auto value = q.find("value: \"");
    if (q.find("invoke(") == std::string::npos || key == std::string::npos) continue;
    out.push_back(q.substr(key + 6, q.find('"', key + 6) - key - 6) + " " +
                  q.substr(value + 8, q.find('"', value + 8) - value - 8));
  }
  return out;
}

std::string headerOf(const HttpRequest& request, const std::string& name) {
  for (const auto& [k, v] : request.headers)
    if (k == name) return v;
  return {};
}

}  // namespace orvex::testing_support
