#include "examples/demo/timeline.h"

namespace demo {
namespace {

// The text between `open` and the next `close` after `from`, or "".
std::string between(const std::string& text, const std::string& open, const std::string& close,
                    std::size_t from = 0) {
  const auto start = text.find(open, from);
  if (start == std::string::npos) return "";
  const auto end = text.find(close, start + open.size());
  if (end == std::string::npos) return "";
  return text.substr(start + open.size(), end - start - open.size());
}

std::string pathOf(const std::string& url) {
  const auto scheme = url.find("://");
  const auto slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

}  // namespace

std::string shorten(const std::string& text, std::size_t max) {
  return text.size() <= max ? text : text.substr(0, max) + "…";
}

std::string describeBody(const std::string& body) {
  // Bodies are {"query": "<document>"} with the document's quotes escaped as \".
  for (const char* operation : {"requestAds(", "requestAd(", "getRemoteConfig(", "invoke("}) {
    if (body.find(operation) == std::string::npos) continue;
    std::string name(operation, std::char_traits<char>::length(operation) - 1);
    if (name == "invoke") {
      name += " " + between(body, "key: \\\"", "\\\"") + " " + between(body, "value: \\\"", "\\\"");
    }
    return name;
  }
  return shorten(body, 40);
}

std::shared_ptr<orvex::HttpTask> TimelineHttpClient::send(
    orvex::HttpRequest request, std::function<void(orvex::HttpResult)> completion) {
  const std::string what =
      request.method + " " + pathOf(request.url) + " " + describeBody(request.body);
  timeline_->say("  -> " + what);
  return inner_->send(
      std::move(request),
      [timeline = timeline_, what, completion = std::move(completion)](orvex::HttpResult result) {
        if (result.response) {
          timeline->say("  <- " + std::to_string(result.response->status) + " " +
                        std::to_string(result.response->body.size()) + " bytes (" + what + ")");
        } else {
          timeline->say("  <- failed: " + (result.error ? result.error->message : "") + " (" +
                        what + ")");
        }
        completion(std::move(result));
      });
}

std::shared_ptr<orvex::HttpTask> TimelineHttpClient::download(
    std::string url, std::function<void(orvex::DownloadResult)> completion) {
  timeline_->say("  -> GET " + pathOf(url) + " (download)");
  return inner_->download(std::move(url), std::move(completion));
}

}  // namespace demo
