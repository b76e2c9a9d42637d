// Every fault the network and the local ad service can produce, on every endpoint, through real
// libcurl on loopback: how many attempts each endpoint saw, the code the caller got, and what
// was persisted. Retry delays run in virtual time; the transfers themselves are real.
#ifdef ORVEX_ADSERVER_FIXTURES

#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "orvex/server/orvex_api.h"
#include "ports/headless/virtual_time.h"
#include "tests/support/local_service.h"
#include "tests/support/test_network.h"

namespace orvex {
namespace {

using namespace std::chrono_literals;

// Attempts on a faulted path give up this soon, so a delayed answer counts as a time-out
// without ten real seconds per attempt.
constexpr auto kShortTimeout = 400ms;
constexpr int kDelayMs = 2500;

enum class Endpoint { requestAds, remoteConfig, events, graphql };

// Faults of the service answer on the path; those of the connection send the path's requests
// to a host that fails them.
enum class Host { service, refused, unresolvable, untrusted, noNetwork };

struct FaultCase {
  const char* name;
  adserver::Fault fault;
  Host host = Host::service;
  bool unauthorized() const { return fault.status == 401; }
  // Only a device without any network is not worth another try.
  int attemptsPerEndpoint() const { return unauthorized() || host == Host::noNetwork ? 1 : 3; }
};

adserver::Fault with(const std::function<void(adserver::Fault&)>& set) {
  adserver::Fault f;
  set(f);
  return f;
}

const FaultCase kFaults[] = {
    {"Status401", with([](auto& f) { f.status = 401; })},
    {"Status429", with([](auto& f) { f.status = 429; })},
    {"Status500", with([](auto& f) { f.status = 500; })},
    {"Status503", with([](auto& f) { f.status = 503; })},
    {"DelayPastTimeout", with([](auto& f) { f.delayMs = kDelayMs; })},
    {"Dropped", with([](auto& f) { f.drop = true; })},
    {"ResetMidBody", with([](auto& f) { f.reset = true; })},
    {"Truncated", with([](auto& f) { f.truncate = true; })},
    {"Malformed", with([](auto& f) { f.malformed = true; })},
    {"DataNull", with([](auto& f) { f.dataNull = true; })},
    {"WrongTypes", with([](auto& f) { f.wrongTypes = true; })},
    {"Oversize", with([](auto& f) { f.oversizeBytes = 5 * 1024 * 1024; })},
    {"Refused", {}, Host::refused},
    {"Unresolvable", {}, Host::unresolvable},
    {"UntrustedCertificate", {}, Host::untrusted},
    {"NoNetwork", {}, Host::noNetwork},
};

// Readable parameters in the test runner's listing.
void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}
void PrintTo(Endpoint e, std::ostream* out);

const char* pathOf(Endpoint e) {
  switch (e) {
    case Endpoint::requestAds:
      return "/request-ads";
    case Endpoint::remoteConfig:
      return "/remote-config";
    case Endpoint::events:
      return "/events";
    case Endpoint::graphql:
      return "/graphql";
  }
  return "";
}

void PrintTo(Endpoint e, std::ostream* out) {
  *out << pathOf(e);
}

std::string pathOfUrl(const std::string& url) {
  const auto authority = url.find("://");
  const auto slash = url.find('/', authority == std::string::npos ? 0 : authority + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

// A TLS listener on loopback whose certificate, made here, no trust store knows.
class UntrustedTlsServer {
 public:
  UntrustedTlsServer() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    server_ = std::make_unique<httplib::SSLServer>(cert, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    server_->Post(".*", [this](const httplib::Request&, httplib::Response& res) {
      ++served_;
      res.set_content("{}", "application/json");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::yield();
  }
  ~UntrustedTlsServer() {
    server_->stop();
    thread_.join();
  }
  std::string base() const { return "https://127.0.0.1:" + std::to_string(port_); }
  int served() const { return served_.load(); }

 private:
  std::unique_ptr<httplib::SSLServer> server_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<int> served_{0};
};

// The SDK's transport with the test's hand on it: counts attempts per path, and sends the
// faulted paths to the failing host with a short time-out.
class FaultingHttpClient : public HttpClient {
 public:
  explicit FaultingHttpClient(std::shared_ptr<HttpClient> inner) : inner_(std::move(inner)) {}

  void fault(std::vector<std::string> paths, std::optional<std::string> base) {
    std::lock_guard lock(mutex_);
    paths_ = std::move(paths);
    base_ = std::move(base);
    attempts_.clear();
  }
  int attempts(const std::string& path) const {
    std::lock_guard lock(mutex_);
    auto it = attempts_.find(path);
    return it == attempts_.end() ? 0 : it->second;
  }

  std::shared_ptr<HttpTask> send(HttpRequest request,
                                 std::function<void(HttpResult)> completion) override {
    const std::string path = pathOfUrl(request.url);
    {
      std::lock_guard lock(mutex_);
      ++attempts_[path];
      if (std::find(paths_.begin(), paths_.end(), path) != paths_.end()) {
        request.timeout = kShortTimeout;
        if (base_) request.url = *base_ + path;
      }
    }
    return inner_->send(std::move(request), std::move(completion));
  }
  std::shared_ptr<HttpTask> download(std::string url,
                                     std::function<void(DownloadResult)> completion) override {
    return inner_->download(std::move(url), std::move(completion));
  }

 private:
  std::shared_ptr<HttpClient> inner_;
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
  std::optional<std::string> base_;
  std::map<std::string, int> attempts_;
};

class FaultMatrix : public testing_support::LocalServiceFlow,
                    public ::testing::WithParamInterface<std::tuple<Endpoint, FaultCase>> {
 protected:
  void SetUp() override {
    http_ = std::make_shared<FaultingHttpClient>(curl());
    startService(headless::TimeMode::virtualTime, http_);
  }

  // Runs virtual time from one due task to the next, but waits (real time) while a transfer
  // is out. The real-time limit only turns a hang into a failure.
  bool runUntil(const std::function<bool()>& done) {
    auto& time = *sdk_->port().virtualTime;
    const auto realLimit = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < realLimit) {
      time.runUntilIdle();
      if (done()) return true;
      if (time.externalWorkCount() > 0) {
        time.waitForActivity(10ms);
      } else if (!time.runNext(std::chrono::hours(1))) {
        return done();
      }
    }
    return false;
  }

  // Points the fault at `paths`: the service's answers there, or the host they go to.
  void inject(const FaultCase& c, const std::vector<std::string>& paths) {
    std::optional<std::string> base;
    switch (c.host) {
      case Host::service:
        for (const auto& p : paths) server_->setFault(p, c.fault);
        break;
      case Host::refused:
        base = "http://127.0.0.1:" + std::to_string(testing_support::refusedPort());
        break;
      case Host::unresolvable:
        base = std::string("http://") + testing_support::kUnresolvableHost + ":" +
               std::to_string(server_->port());
        break;
      case Host::untrusted:
        tls_.emplace();
        base = tls_->base();
        break;
      case Host::noNetwork:
        base = std::string("http://") + testing_support::kNoNetworkAddress;
        break;
    }
    http_->fault(paths, base);
  }

  // Runs the endpoint's operation; the error it ended with, if any.
  std::optional<ServerError> run(Endpoint endpoint) {
    std::optional<ServerError> error;
    bool done = false;
    auto finish = [&](std::optional<ServerError> e) {
      error = std::move(e);
      done = true;
    };
    OrvexConfig& config = Orvex::shared().config();
    const std::int64_t configuredAt = config.lastConfigAt();
    switch (endpoint) {
      case Endpoint::requestAds:
      case Endpoint::graphql:
        Orvex::shared().api().requestAd("demo-banner", "ctx",
                                        [&](auto, auto e) { finish(std::move(e)); });
        break;
      case Endpoint::remoteConfig:
        config.fetchRemoteConfig([&](const ServerError& e) { finish(e); });
        break;
      case Endpoint::events:
        Orvex::shared().api().invoke("FAULT", "matrix",
                                     [&](auto, auto e) { finish(std::move(e)); });
        break;
    }
    EXPECT_TRUE(runUntil([&] { return done || config.lastConfigAt() != configuredAt; }));
    return error;
  }

  std::shared_ptr<FaultingHttpClient> http_;
  std::optional<UntrustedTlsServer> tls_;
};

TEST_P(FaultMatrix, AttemptsCodeAndPersistedState) {
  const auto& [endpoint, c] = GetParam();
  const std::string primary = endpoint == Endpoint::graphql ? "/request-ads" : pathOf(endpoint);
  // The primary endpoints fail alone, so the fallback is seen to serve; the graph row fails both.
  std::vector<std::string> faulted{primary};
  if (endpoint == Endpoint::graphql) faulted.push_back("/graphql");
  inject(c, faulted);
  KeyValueStore& defaults = *Orvex::shared().platform().store->standard();
  const auto configuredAt = defaults.string("orvex_lastConfigAt");
  const auto activeStored = defaults.boolean("orvex_active");
  // A configuration applied now is told apart from the first by its time.
  sdk_->advance(1);

  const std::optional<ServerError> error = run(endpoint);

  // A 401 ends everything at once; only a fallback that was itself faulted fails.
  const bool bothFail = endpoint == Endpoint::graphql;
  EXPECT_EQ(http_->attempts(primary), c.attemptsPerEndpoint());
  EXPECT_EQ(http_->attempts("/graphql"), c.unauthorized() ? 0
                                         : bothFail       ? c.attemptsPerEndpoint()
                                                          : 1);
  if (c.unauthorized()) {
    ASSERT_TRUE(error);
    EXPECT_EQ(errorCode(*error), OrvexErrorCode::accountUsageLimitExceeded);
    EXPECT_FALSE(Orvex::shared().config().active());
    EXPECT_EQ(defaults.boolean("orvex_active"), false);
  } else {
    if (bothFail) {
      ASSERT_TRUE(error);
      EXPECT_EQ(errorCode(*error), OrvexErrorCode::network);
    } else {
      EXPECT_FALSE(error) << error->description();
    }
    EXPECT_TRUE(Orvex::shared().config().active());
    EXPECT_EQ(defaults.boolean("orvex_active"), activeStored);
  }
  // Only a configuration that arrived is stored.
  const bool configured = endpoint == Endpoint::remoteConfig && !c.unauthorized();
  EXPECT_EQ(defaults.string("orvex_lastConfigAt") != configuredAt, configured);
  // A certificate that does not verify ends the exchange before anything is sent.
  if (tls_) {
    EXPECT_EQ(tls_->served(), 0);
  }
  EXPECT_EQ(testing_support::resolverCounts().stray, 0u);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<Endpoint, FaultCase>>& info) {
  static const char* const kEndpoints[] = {"RequestAds", "RemoteConfig", "Events", "Graphql"};
  return std::string(kEndpoints[static_cast<int>(std::get<0>(info.param))]) + "_" +
         std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(EveryEndpoint, FaultMatrix,
                         ::testing::Combine(::testing::Values(Endpoint::requestAds,
                                                              Endpoint::remoteConfig,
                                                              Endpoint::events, Endpoint::graphql),
                                            ::testing::ValuesIn(kFaults)),
                         caseName);

}  // namespace
}  // namespace orvex

#endif  // ORVEX_ADSERVER_FIXTURES
