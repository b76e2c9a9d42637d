// A local stand-in for the ad service: answers the SDK's GraphQL requests from fixture files,
// records every request and injects faults on demand. Shares nothing with the SDK on purpose.
#ifndef ORVEX_TOOLS_ADSERVER_AD_SERVER_H_
#define ORVEX_TOOLS_ADSERVER_AD_SERVER_H_

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace adserver {

struct RecordedRequest {
  std::string method, path;  // path without query
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Top-level GraphQL field: "requestAd", "requestAds", "getRemoteConfig", "invoke", or "".
  std::string operation;
  int status = 0;  // 0 when the connection was dropped
};

// What to do instead of the normal answer on one path; all members optional.
struct Fault {
  int status = 0;           // answer this status with a small JSON error body
  int delayMs = 0;          // wait before answering
  bool drop = false;        // close the connection without an answer
  bool truncate = false;    // Content-Length of the full body, half the body sent
  bool reset = false;       // half the body sent, then the connection reset
  bool malformed = false;   // a body that is not JSON
  bool dataNull = false;    // {"data": null}
  bool wrongTypes = false;  // the normal answer with every value of another JSON type
  int oversizeBytes = 0;    // a well-formed JSON answer padded to this many bytes
  int times = -1;           // requests it applies to; -1 = until cleared
};

// Request bodies above this are answered 413 Payload Too Large.
inline constexpr std::size_t kMaxRequestBodyBytes = 1 << 20;

struct Options {
  std::string host = "127.0.0.1";
  int port = 0;  // 0 = a free one
  std::string fixtures;
  std::string logFile;               // "" = none; else one JSON object per request per line
  std::vector<std::string> appKeys;  // added to those in fixtures/app_keys.txt
};

class AdServer {
 public:
  explicit AdServer(Options options);
  ~AdServer();
  AdServer(const AdServer&) = delete;
  AdServer& operator=(const AdServer&) = delete;

  // Loads the fixtures, binds and serves on its own thread; returns once listening.
  bool start(std::string* error = nullptr);
  void stop();
  int port() const;
  std::string baseUrl() const;  // "http://127.0.0.1:PORT"

  std::vector<RecordedRequest> requests() const;
  void clearRequests();
  void setFault(const std::string& path, Fault fault);
  void clearFaults();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace adserver

#endif  // ORVEX_TOOLS_ADSERVER_AD_SERVER_H_
