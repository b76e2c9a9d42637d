#pragma once
// The Linux ports' HTTP client over libcurl: one multi handle on a network thread, connections
// kept alive and reused, HTTP/2 when the server offers it, TLS verification always on.

#include <cstddef>
#include <filesystem>
#include <memory>

#include "orvex/platform/http.h"

namespace orvex::linux_port {

class CurlHttpClient : public HttpClient {
 public:
  // Downloads land in `downloadDirectory`, the system's temporary directory when empty.
  explicit CurlHttpClient(std::filesystem::path downloadDirectory = {});
  ~CurlHttpClient() override;  // cancels what is in flight and joins the network thread

  std::shared_ptr<HttpTask> send(HttpRequest request,
                                 std::function<void(HttpResult)> completion) override;
  std::shared_ptr<HttpTask> download(std::string url,
                                     std::function<void(DownloadResult)> completion) override;

  // Connections opened so far (tests check that keep-alive reuses them).
  std::size_t connectionsOpened() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvex::linux_port
