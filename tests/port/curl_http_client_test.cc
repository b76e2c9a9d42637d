#include "ports/linux/curl_http_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

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

// An HTTP server on an ephemeral loopback port, serving from its own thread. "/hang" answers only
// once released; the other paths at once.
class LocalServer {
 public:
  LocalServer() {
    auto text = [this](const char* path, int status, std::string body) {
      server_.Get(path, [status, body](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content(body, "text/plain");
      });
    };
    text("/ok", 200, "ok");
    text("/big", 200, std::string(10000, 'x'));
    text("/missing", 404, "not here");
    text("/file.js", 200, "console.log(1);");
    server_.Get("/hang", [this](const httplib::Request&, httplib::Response& res) {
      ++hanging;
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait_for(lock, 5s, [this] { return released_; });
      res.set_content("late", "text/plain");
    });
    server_.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
        std::string chunk(1000, 'y');
        for (int i = 0; i < 10; ++i) sink.write(chunk.data(), chunk.size());
        sink.done();
        return true;
      });
    });
    server_.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
      // No content type was given, so none (and not curl's form type) may arrive.
      res.set_content(req.body + (req.has_header("Content-Type") ? "+type" : ""), "text/plain");
    });
    server_.Post("/denied",
                 [](const httplib::Request&, httplib::Response& res) { res.status = 401; });
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
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  std::atomic<int> hanging{0};

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool released_ = false;
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

HttpRequest request(std::string url, std::string method = "GET", std::string body = {}) {
  HttpRequest r;
  r.url = std::move(url);
  r.method = std::move(method);
  r.body = std::move(body);
  return r;
}

std::optional<HttpError::Kind> kindOf(const std::optional<HttpError>& error) {
  return error ? std::optional(error->kind) : std::nullopt;
}

HttpResult sendAndWait(CurlHttpClient& client, HttpRequest request) {
  Waiter<HttpResult> w;
  client.send(std::move(request), w.callback());
  return w.get();
}

// httplib hands request headers over sorted by name, so the raw request is read off a socket.
TEST(CurlHttpClientTest, SendsMethodBodyAndHeadersInTheGivenOrderAndReturnsTheAnswer) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  socklen_t len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  HttpRequest req = request("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/q",
                            "POST", R"({"query":"{ x }"})");
  req.headers = {{"X-Zulu", "1"},
                 {"Authorization", "key-123"},
                 {"X-Empty", ""},
                 {"Content-Type", "application/json"}};
  std::string raw;
  std::thread peer([&] {
    int conn = accept(listener, nullptr, nullptr);
    if (conn < 0) return;
    char buf[4096];
    while (raw.find(req.body) == std::string::npos) {  // the body comes last
      ssize_t n = recv(conn, buf, sizeof buf, 0);
      if (n <= 0) break;
      raw.append(buf, static_cast<size_t>(n));
    }
    const char reply[] =
        "HTTP/1.1 201 Created\r\nX-Answer: yes\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
        R"({"data":{}})";
    ::send(conn, reply, sizeof reply - 1, 0);
    close(conn);
  });
  CurlHttpClient client;
  Waiter<HttpResult> w;
  client.send(req, w.callback());
  HttpResult result = w.get();
  peer.join();
  close(listener);

  ASSERT_TRUE(result.response) << result.error->message;
  EXPECT_FALSE(result.error);
  EXPECT_NE(w.onNetworkThread, std::this_thread::get_id());
  EXPECT_EQ(result.response->status, 201);
  EXPECT_EQ(result.response->body, R"({"data":{}})");
  EXPECT_NE(std::find(result.response->headers.begin(), result.response->headers.end(),
                      std::pair<std::string, std::string>{"X-Answer", "yes"}),
            result.response->headers.end());
  EXPECT_EQ(raw.rfind("POST /q HTTP/1.1\r\n", 0), 0u) << raw;
  EXPECT_EQ(raw.substr(raw.size() - req.body.size()), req.body);
  std::size_t at = 0;
  for (const auto& [name, value] : req.headers) {
    // An empty value is still sent, not dropped.
    at = raw.find(name + ":" + (value.empty() ? "" : " " + value + "\r\n"), at);
    ASSERT_NE(at, std::string::npos) << name << " missing or out of order in " << raw;
  }
}

TEST(CurlHttpClientTest, ReusesOneConnectionForSequentialRequests) {
  LocalServer local;
  CurlHttpClient client;
  for (int i = 0; i < 4; ++i) {
    HttpResult result = sendAndWait(client, request(local.url("/ok")));
    ASSERT_TRUE(result.response);
    EXPECT_EQ(result.response->status, 200);
  }
  EXPECT_EQ(client.connectionsOpened(), 1u);
}

TEST(CurlHttpClientTest, ServesSendsFromSeveralThreadsAndSurvivesThrowingCompletions) {
  LocalServer local;
  CurlHttpClient client;
  client.send(request(local.url("/echo"), "POST"),
              [](HttpResult) { throw std::runtime_error("host bug"); });
  constexpr int kThreads = 4, kEach = 5;
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      for (int j = 0; j < kEach; ++j) {
        const std::string body = std::to_string(i) + "-" + std::to_string(j);
        HttpResult result = sendAndWait(client, request(local.url("/echo"), "POST", body));
        if (result.response && result.response->body == body) ++ok;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), kThreads * kEach);
}

TEST(CurlHttpClientTest, StatusesAreAnswersAndFailuresMapToKinds) {
  LocalServer local;
  CurlHttpClient client;
  HttpResult denied = sendAndWait(client, request(local.url("/denied"), "POST"));
  ASSERT_TRUE(denied.response);
  EXPECT_EQ(denied.response->status, 401);
  HttpRequest exact = request(local.url("/big"));
  exact.maxResponseBytes = 10000;
  HttpResult fits = sendAndWait(client, exact);
  ASSERT_TRUE(fits.response);
  EXPECT_EQ(fits.response->body.size(), 10000u);

  HttpRequest slow = request(local.url("/hang"));
  slow.timeout = 200ms;
  HttpRequest big = request(local.url("/big")), chunked = request(local.url("/chunked"));
  big.maxResponseBytes = chunked.maxResponseBytes = 4096;
  // Refused and unknown names are worth another try later, unlike having no network at all.
  const std::pair<HttpRequest, HttpError::Kind> failures[] = {
      {slow, HttpError::Kind::timedOut},
      {big, HttpError::Kind::tooLarge},
      {chunked, HttpError::Kind::tooLarge},
      {request(std::string("http://") + testing_support::kNoNetworkAddress + "/"),
       HttpError::Kind::noConnection},
      {request("http://127.0.0.1:" + std::to_string(testing_support::refusedPort()) + "/"),
       HttpError::Kind::cannotConnect},
      {request(std::string("http://") + testing_support::kUnresolvableHost + "/"),
       HttpError::Kind::cannotFindHost},
      {request("ftp://127.0.0.1/file"), HttpError::Kind::other}};
  for (const auto& [req, kind] : failures) {
    HttpResult result = sendAndWait(client, req);
    EXPECT_FALSE(result.response) << req.url;
    EXPECT_EQ(kindOf(result.error), kind) << req.url;
  }
}

TEST(CurlHttpClientTest, CancelDeliversCancelledOnceAndLateCancelIsHarmless) {
  LocalServer local;
  CurlHttpClient client;
  std::atomic<int> calls{0};
  std::promise<HttpResult> done;
  auto task = client.send(request(local.url("/hang")), [&](HttpResult r) {
    if (calls.fetch_add(1) == 0) done.set_value(std::move(r));
  });
  task->cancel();
  task->cancel();
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  HttpResult result = future.get();
  local.release();
  EXPECT_EQ(kindOf(result.error), HttpError::Kind::cancelled);

  Waiter<HttpResult> w;
  auto finished = client.send(request(local.url("/ok")), w.callback());
  ASSERT_TRUE(w.get().response);
  finished->cancel();  // already finished: nothing more is delivered
  // A round trip through the network thread orders any stray delivery before the check.
  ASSERT_TRUE(sendAndWait(client, request(local.url("/ok"))).response);
  EXPECT_EQ(calls.load(), 1);
}

// A name whose lookup never ends holds up neither the other transfers, nor the cancel of its own
// transfer, nor the client's teardown. Without a timed assertion: the lookup is only released at
// the end, so everything before happened while it was pending; the waits only turn a hang into
// a failure.
TEST(CurlHttpClientTest, APendingLookupStallsNothing) {
  LocalServer local;
  auto client = std::make_unique<CurlHttpClient>();
  // A failed check ends the test early: the lookup is released before the client goes.
  struct Release {
    ~Release() { testing_support::releaseStalledLookups(); }
  } releaseOnExit;
  HttpRequest stalled = request(std::string("http://") + testing_support::kStallingHost + "/");
  stalled.timeout = 10min;
  std::promise<HttpResult> cancelled;
  auto task = client->send(stalled, [&](HttpResult r) { cancelled.set_value(std::move(r)); });
  ASSERT_TRUE(testing_support::waitForStalledLookups(1, 30));
  task->cancel();
  auto cancelledResult = cancelled.get_future();
  ASSERT_EQ(cancelledResult.wait_for(30s), std::future_status::ready);
  HttpResult result = cancelledResult.get();
  EXPECT_EQ(kindOf(result.error), HttpError::Kind::cancelled);
  ASSERT_TRUE(sendAndWait(*client, request(local.url("/ok"))).response);

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
  testing_support::TempDir dir;
  CurlHttpClient client(dir.path());
  Waiter<DownloadResult> missing;
  client.download(local.url("/missing"), missing.callback());
  DownloadResult failed = missing.get();
  EXPECT_FALSE(failed.file);
  EXPECT_EQ(kindOf(failed.error), HttpError::Kind::badResponse);
  EXPECT_EQ(failed.status, 404);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  Waiter<DownloadResult> w;
  client.download(local.url("/file.js"), w.callback());
  DownloadResult result = w.get();
  ASSERT_TRUE(result.file);
  EXPECT_FALSE(result.error);
  EXPECT_EQ(result.status, 200);
  std::ifstream in(*result.file);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "console.log(1);");
  EXPECT_EQ(result.file->parent_path(), dir.path());
}

TEST(CurlHttpClientTest, DestructorCancelsWhatIsInFlight) {
  LocalServer local;
  std::atomic<int> cancelled{0};
  std::atomic<int> calls{0};
  auto note = [&](const std::optional<HttpError>& error) {
    ++calls;
    if (kindOf(error) == HttpError::Kind::cancelled) ++cancelled;
  };
  {
    CurlHttpClient client;
    client.send(request(local.url("/hang")), [&](HttpResult r) { note(r.error); });
    client.download(local.url("/hang"), [&](DownloadResult r) { note(r.error); });
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (local.hanging.load() < 2 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_EQ(local.hanging.load(), 2);
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
  auto client = std::make_unique<CurlHttpClient>();
  auto queue = client->makeSerialQueue("com.example.requests");
  ASSERT_TRUE(queue);

  struct Seen {
    std::thread::id thread;
    bool onQueue = false;
    bool answered = false;
  };
  auto sendOn = [&](std::shared_ptr<TaskQueue> target) {
    std::promise<Seen> done;
    client->sendOn(target, request(local.url("/ok")), [&, target](HttpResult r) {
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
  const Seen posted = sendOn(loop.makeSerialQueue("com.example.other", QueuePriority::utility));
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
  auto client = std::make_shared<CurlHttpClient>();
  std::promise<void> done;
  client->send(request(local.url("/ok")), [&done, holder = client](HttpResult) mutable {
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
