#pragma once
// The Linux ports' HTTP client over libcurl: one multi handle on a network thread, connections
// kept alive and reused, HTTP/2 when the server offers it, TLS verification always on. Nothing
// waits on that thread: names resolve on threads of libcurl's that are forgotten, not joined,
// when their transfer is cancelled or the client goes. Serial queues made by the client run on
// the network thread too, so answers reach the work that consumes them without a hand-off.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "orvex/platform/http.h"

namespace orvex::linux_port {

class ORVEX_API CurlHttpClient : public HttpClient {
 public:
  // Downloads land in `downloadDirectory`, the system's temporary directory when empty.
  explicit CurlHttpClient(std::filesystem::path downloadDirectory = {});
  // Cancels what is in flight, drops the queues' waiting tasks and joins the network thread.
  ~CurlHttpClient() override;

  std::shared_ptr<HttpTask> send(HttpRequest request,
                                 std::function<void(HttpResult)> completion) override;
  std::shared_ptr<HttpTask> sendOn(std::shared_ptr<TaskQueue> queue, HttpRequest request,
                                   std::function<void(HttpResult)> completion) override;
  std::shared_ptr<TaskQueue> makeSerialQueue(const std::string& label) override;
  std::shared_ptr<HttpTask> download(std::string url,
                                     std::function<void(DownloadResult)> completion) override;

  // Connections opened so far (tests check that keep-alive reuses them).
  std::size_t connectionsOpened() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvex::linux_port
