#include "ports/linux/curl_http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "ports/linux/real_time_loop.h"
#include "tests/support/test_network.h"
#include "tests/support/test_sdk.h"

// The system cpp-httplib is a compiled library; the tests need it linked.
#ifdef ORVEX_HAVE_HTTPLIB
#include <httplib.h>

#if defined(__SANITIZE_THREAD__)
// The packaged httplib is not instrumented, so TSan misses its internal synchronisation and
// reports races between its own worker threads.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\nrace:libcpp-httplib.so\n";
}
#endif

namespace orvex::linux_port {
namespace {

using namespace std::chrono_literals;

// An HTTP server on an ephemeral loopback port, serving from its own thread.
class LocalServer {
 public:
  LocalServer() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() is a no-op until the loop runs, so the destructor must not race its start.
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~LocalServer() {
    release();
    server_.stop();
    thread_.join();
  }
  httplib::Server& server() { return server_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // Handlers blocked in waitForRelease() return once this is called.
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  void waitForRelease() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, 5s, [this] { return released_; });
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
};

struct TempDir {
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvex-http-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::filesystem::path path;
};

template <typename R>
class Waiter {
 public:
  std::function<void(R)> callback() {
    return [this](R r) {
      onNetworkThread = std::this_thread::get_id();
      promise_.set_value(std::move(r));
    };
  }
  R get() {
    EXPECT_EQ(future_.wait_for(10s), std::future_status::ready);
    return future_.get();
  }
  std::thread::id onNetworkThread;

 private:
  std::promise<R> promise_;
  std::future<R> future_ = promise_.get_future();
};

HttpResult sendAndWait(CurlHttpClient& client, HttpRequest request) {
  Waiter<HttpResult> w;
  client.send(std::move(request), w.callback());
  return w.get();
}

TEST(CurlHttpClientTest, PostsBodyAndHeadersAndReturnsTheAnswer) {
  LocalServer local;
  std::mutex mutex;
  std::string seenBody, seenMethod;
  std::string seenAuth, seenType;
  local.server().Post("/q", [&](const httplib::Request& req, httplib::Response& res) {
    std::lock_guard<std::mutex> lock(mutex);
    seenBody = req.body;
    seenMethod = req.method;
    seenAuth = req.get_header_value("Authorization");
    seenType = req.get_header_value("Content-Type");
    res.status = 201;
    res.set_header("X-Answer", "yes");
    res.set_content(R"({"data":{}})", "application/json");
  });
  CurlHttpClient client;
  HttpRequest req;
  req.method = "POST";
  req.url = local.url("/q");
  req.headers = {{"X-Ios-Bundle-Identifier", ""},
                 {"Authorization", "key-123"},
                 {"Content-Type", "application/json"}};
  req.body = R"({"query":"{ x }"})";
  Waiter<HttpResult> w;
  client.send(req, w.callback());
  HttpResult result = w.get();

  ASSERT_TRUE(result.response) << result.error->message;
  EXPECT_FALSE(result.error);
  EXPECT_NE(w.onNetworkThread, std::this_thread::get_id());
  EXPECT_EQ(result.response->status, 201);
  EXPECT_EQ(result.response->body, R"({"data":{}})");
  bool found = false;
  for (const auto& [name, value] : result.response->headers) {
    if (name == "X-Answer") found = value == "yes";
  }
  EXPECT_TRUE(found);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(seenMethod, "POST");
  EXPECT_EQ(seenBody, req.body);
  EXPECT_EQ(seenAuth, "key-123");
  EXPECT_EQ(seenType, "application/json");
}

TEST(CurlHttpClientTest, SendsHeadersInTheGivenOrder) {
  // httplib hands request headers over sorted by name, so the raw request is read off a socket.
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::string raw;
  std::thread peer([&] {
    int conn = accept(listener, nullptr, nullptr);
    if (conn < 0) return;
    char buf[4096];
    while (raw.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = recv(conn, buf, sizeof buf, 0);
      if (n <= 0) break;
      raw.append(buf, static_cast<size_t>(n));
    }
    const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    ::send(conn, reply, sizeof reply - 1, 0);
    close(conn);
  });
  CurlHttpClient client;
  HttpRequest req;
  req.url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/o";
  req.headers = {{"X-Zulu", "1"}, {"X-Alpha", "2"}, {"X-Empty", ""}, {"X-Mike", "3"}};
  HttpResult result = sendAndWait(client, req);
  peer.join();
  close(listener);
  ASSERT_TRUE(result.response);
  EXPECT_EQ(result.response->body, "ok");
  auto z = raw.find("X-Zulu: 1\r\n"), a = raw.find("X-Alpha: 2\r\n"), m = raw.find("X-Mike: 3\r\n");
  ASSERT_NE(z, std::string::npos) << raw;
  ASSERT_NE(a, std::string::npos) << raw;
  ASSERT_NE(m, std::string::npos) << raw;
  EXPECT_LT(z, a);
  EXPECT_LT(a, m);
  // An empty value is still sent, not dropped.
  auto e = raw.find("X-Empty:");
  EXPECT_NE(e, std::string::npos) << raw;
  EXPECT_LT(a, e);
  EXPECT_LT(e, m);
}

TEST(CurlHttpClientTest, ReusesOneConnectionForSequentialRequests) {
  LocalServer local;
  local.server().Get("/k", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
  CurlHttpClient client;
  for (int i = 0; i < 4; ++i) {
    HttpRequest req;
    req.url = local.url("/k");
    HttpResult result = sendAndWait(client, req);
    ASSERT_TRUE(result.response);
    EXPECT_EQ(result.response->status, 200);
  }
  EXPECT_EQ(client.connectionsOpened(), 1u);
}

TEST(CurlHttpClientTest, ServesSendsFromSeveralThreadsAndSurvivesThrowingCompletions) {
  LocalServer local;
  local.server().Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
    // No content type was given, so none (and not curl's form type) may arrive.
    res.set_content(req.body + (req.has_header("Content-Type") ? "+type" : ""), "text/plain");
  });
  CurlHttpClient client;
  HttpRequest boom;
  boom.method = "POST";
  boom.url = local.url("/echo");
  client.send(boom, [](HttpResult) { throw std::runtime_error("host bug"); });

  constexpr int kThreads = 4, kEach = 5;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int j = 0; j < kEach; ++j) {
        HttpRequest req;
        req.method = "POST";
        req.url = local.url("/echo");
        req.body = std::to_string(i) + "-" + std::to_string(j);
        HttpResult result = sendAndWait(client, req);
        if (result.response && result.response->body == req.body) ++ok;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), kThreads * kEach);
}

TEST(CurlHttpClientTest, MapsFailuresToKinds) {
  LocalServer local;
  local.server().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
    local.waitForRelease();
    res.set_content("late", "text/plain");
  });
  local.server().Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(10000, 'x'), "text/plain");
  });
  local.server().Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
      std::string chunk(1000, 'y');
      for (int i = 0; i < 10; ++i) sink.write(chunk.data(), chunk.size());
      sink.done();
      return true;
    });
  });
  CurlHttpClient client;

  HttpRequest slow;
  slow.url = local.url("/slow");
  slow.timeout = 200ms;
  HttpResult timedOut = sendAndWait(client, slow);
  local.release();
  ASSERT_TRUE(timedOut.error);
  EXPECT_EQ(timedOut.error->kind, HttpError::Kind::timedOut);

  for (const char* path : {"/big", "/chunked"}) {
    HttpRequest big;
    big.url = local.url(path);
    big.maxResponseBytes = 4096;
    HttpResult tooLarge = sendAndWait(client, big);
    ASSERT_TRUE(tooLarge.error) << path;
    EXPECT_FALSE(tooLarge.response);
    EXPECT_EQ(tooLarge.error->kind, HttpError::Kind::tooLarge) << path;
  }

  HttpRequest exact;
  exact.url = local.url("/big");
  exact.maxResponseBytes = 10000;
  HttpResult fits = sendAndWait(client, exact);
  ASSERT_TRUE(fits.response);
  EXPECT_EQ(fits.response->body.size(), 10000u);
}

TEST(CurlHttpClientTest, ConnectionFailuresAreErrorValuesAndStatusesAreAnswers) {
  LocalServer local;
  local.server().Post("/denied",
                      [](const httplib::Request&, httplib::Response& res) { res.status = 401; });
  CurlHttpClient client;
  HttpRequest denied;
  denied.method = "POST";
  denied.url = local.url("/denied");
  HttpResult result = sendAndWait(client, denied);
  ASSERT_TRUE(result.response);
  EXPECT_EQ(result.response->status, 401);

  // Refused and unknown names are worth another try later, unlike having no network at all.
  const std::pair<std::string, HttpError::Kind> failures[] = {
      {std::string("http://") + testing_support::kNoNetworkAddress + "/",
       HttpError::Kind::noConnection},
      {"http://127.0.0.1:" + std::to_string(testing_support::refusedPort()) + "/",
       HttpError::Kind::cannotConnect},
      {std::string("http://") + testing_support::kUnresolvableHost + "/",
       HttpError::Kind::cannotFindHost},
      {"ftp://127.0.0.1/file", HttpError::Kind::other}};
  for (const auto& [url, kind] : failures) {
    HttpRequest failing;
    failing.url = url;
    result = sendAndWait(client, failing);
    ASSERT_TRUE(result.error) << url;
    EXPECT_EQ(result.error->kind, kind) << url;
  }
}

TEST(CurlHttpClientTest, CancelDeliversCancelledOnceAndLateCancelIsHarmless) {
  LocalServer local;
  local.server().Get("/hang", [&](const httplib::Request&, httplib::Response& res) {
    local.waitForRelease();
    res.set_content("late", "text/plain");
  });
  local.server().Get("/fast", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
  CurlHttpClient client;
  std::atomic<int> calls{0};
  std::promise<HttpResult> done;
  HttpRequest req;
  req.url = local.url("/hang");
  auto task = client.send(req, [&](HttpResult r) {
    if (calls.fetch_add(1) == 0) done.set_value(std::move(r));
  });
  task->cancel();
  task->cancel();
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  HttpResult result = future.get();
  local.release();
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->kind, HttpError::Kind::cancelled);

  HttpRequest fast;
  fast.url = local.url("/fast");
  Waiter<HttpResult> w;
  auto finished = client.send(fast, w.callback());
  ASSERT_TRUE(w.get().response);
  finished->cancel();  // already finished: nothing more is delivered
  // A round trip through the network thread orders any stray delivery before the check.
  ASSERT_TRUE(sendAndWait(client, fast).response);
  EXPECT_EQ(calls.load(), 1);
}

// A name whose lookup never ends holds up neither the other transfers, nor the cancel of its own
// transfer, nor the client's teardown. Without a timed assertion: the lookup is only released at
// the end, so everything before happened while it was pending; the waits only turn a hang into
// a failure.
TEST(CurlHttpClientTest, APendingLookupStallsNothing) {
  LocalServer local;
  local.server().Get("/fast", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
  auto client = std::make_unique<CurlHttpClient>();
  // A failed check ends the test early: the lookup is released before the client goes.
  struct Release {
    ~Release() { testing_support::releaseStalledLookups(); }
  } releaseOnExit;
  HttpRequest stalled;
  stalled.url = std::string("http://") + testing_support::kStallingHost + "/";
  stalled.timeout = 10min;
  std::promise<HttpResult> cancelled;
  auto task = client->send(stalled, [&](HttpResult r) { cancelled.set_value(std::move(r)); });
  ASSERT_TRUE(testing_support::waitForStalledLookups(1, 30));
  task->cancel();
  auto cancelledResult = cancelled.get_future();
  ASSERT_EQ(cancelledResult.wait_for(30s), std::future_status::ready);
  HttpResult result = cancelledResult.get();
  ASSERT_TRUE(result.error);
  EXPECT_EQ(result.error->kind, HttpError::Kind::cancelled);

  HttpRequest fast;
  fast.url = local.url("/fast");
  ASSERT_TRUE(sendAndWait(*client, fast).response);

  std::packaged_task<void()> teardown([&] { client.reset(); });
  auto tornDown = teardown.get_future();
  std::thread tearing(std::move(teardown));
  const bool returned = tornDown.wait_for(30s) == std::future_status::ready;
  const auto counts = testing_support::resolverCounts();
  testing_support::releaseStalledLookups();
  tearing.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(counts.stalledReturned, 0u);
  task->cancel();  // outliving the client is harmless
  EXPECT_TRUE(testing_support::waitForStalledLookupsToReturn(30));
}

TEST(CurlHttpClientTest, DownloadsIntoATemporaryFileAndLeavesNoneOnFailure) {
  LocalServer local;
  local.server().Get("/file.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("console.log(1);", "application/javascript");
  });
  local.server().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
    res.status = 404;
    res.set_content("not here", "text/plain");
  });
  TempDir dir;
  CurlHttpClient client(dir.path);
  Waiter<DownloadResult> missing;
  client.download(local.url("/missing"), missing.callback());
  DownloadResult failed = missing.get();
  EXPECT_FALSE(failed.file);
  ASSERT_TRUE(failed.error);
  EXPECT_EQ(failed.error->kind, HttpError::Kind::badResponse);
  EXPECT_EQ(failed.status, 404);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path));

  Waiter<DownloadResult> w;
  client.download(local.url("/file.js"), w.callback());
  DownloadResult result = w.get();
  ASSERT_TRUE(result.file);
  EXPECT_FALSE(result.error);
  EXPECT_EQ(result.status, 200);
  std::ifstream in(*result.file);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "console.log(1);");
  EXPECT_EQ(result.file->parent_path(), dir.path);
}

TEST(CurlHttpClientTest, DestructorCancelsWhatIsInFlight) {
  LocalServer local;
  std::atomic<int> arrived{0};
  local.server().Get("/hang", [&](const httplib::Request&, httplib::Response& res) {
    ++arrived;
    local.waitForRelease();
    res.set_content("late", "text/plain");
  });
  std::atomic<int> cancelled{0};
  std::atomic<int> calls{0};
  {
    CurlHttpClient client;
    HttpRequest req;
    req.url = local.url("/hang");
    client.send(req, [&](HttpResult r) {
      ++calls;
      if (r.error && r.error->kind == HttpError::Kind::cancelled) ++cancelled;
    });
    client.download(local.url("/hang"), [&](DownloadResult r) {
      ++calls;
      if (r.error && r.error->kind == HttpError::Kind::cancelled) ++cancelled;
    });
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (arrived.load() < 2 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_EQ(arrived.load(), 2);
  }
  local.release();
  EXPECT_EQ(calls.load(), 2);
  EXPECT_EQ(cancelled.load(), 2);
}

// The client's own queues run on its network thread: answers sent on to them arrive as their
// tasks without a post; answers for other queues are posted there; what waits when the client
// goes is dropped.
TEST(CurlHttpClientTest, OwnQueuesTakeAnswersWithoutAHandOff) {
  LocalServer local;
  local.server().Get("/k", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
  auto client = std::make_unique<CurlHttpClient>();
  auto queue = client->makeSerialQueue("com.example.requests");
  ASSERT_TRUE(queue);
  EXPECT_EQ(queue->label(), "com.example.requests");

  struct Seen {
    std::thread::id thread;
    bool onQueue = false;
    bool answered = false;
  };
  auto sendOn = [&](std::shared_ptr<TaskQueue> target) {
    std::promise<Seen> done;
    HttpRequest req;
    req.url = local.url("/k");
    client->sendOn(target, req, [&, target](HttpResult r) {
      done.set_value(Seen{std::this_thread::get_id(), target->isCurrent(), bool(r.response)});
    });
    auto future = done.get_future();
    EXPECT_EQ(future.wait_for(10s), std::future_status::ready);
    return future.get();
  };
  std::promise<std::thread::id> ran;
  queue->post([&] { ran.set_value(std::this_thread::get_id()); });
  const std::thread::id network = ran.get_future().get();
  const Seen own = sendOn(queue);
  EXPECT_EQ(own.thread, network);
  EXPECT_TRUE(own.onQueue);
  EXPECT_TRUE(own.answered);

  RealTimeLoop loop;
  auto other = loop.makeSerialQueue("com.example.other", QueuePriority::utility);
  const Seen posted = sendOn(other);
  EXPECT_NE(posted.thread, network);
  EXPECT_TRUE(posted.onQueue);

  // Serial, and a delayed task waits behind later ones that are due sooner.
  std::mutex mutex;
  std::vector<int> order;
  std::promise<void> third;
  auto note = [&](int n) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(n);
  };
  queue->postAfter(500ms, [&] {
    note(3);
    third.set_value();
  });
  queue->post([&] { note(1); });
  queue->post([&] { note(2); });
  ASSERT_EQ(third.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watch = held;
  queue->postAfter(1h, [held = std::move(held)] {});
  client.reset();
  EXPECT_TRUE(watch.expired());
  queue->post([] {});  // refused without harm
}

TEST(CurlHttpClientTest, CompletionMayDestroyTheClient) {
  LocalServer local;
  local.server().Get("/k", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("ok", "text/plain");
  });
  auto client = std::make_shared<CurlHttpClient>();
  std::promise<void> done;
  HttpRequest req;
  req.url = local.url("/k");
  std::shared_ptr<CurlHttpClient> holder = client;
  client->send(req, [&done, holder](HttpResult) mutable {
    holder.reset();
    done.set_value();
  });
  client.reset();
  // holder is the last owner and is dropped on the network thread; that must not deadlock.
  ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
}

}  // namespace
}  // namespace orvex::linux_port

#endif  // ORVEX_HAVE_HTTPLIB
