#include "ports/linux/curl_http_client.h"

#include <curl/curl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <queue>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "ports/linux/task_guard.h"

namespace orvex::linux_port {
namespace {

constexpr Duration kMaxConnectTimeout = std::chrono::seconds(10);
// Files may be large videos on slow links: a download ends when it stalls for a minute, and only
// a very generous total bounds it.
constexpr Duration kDownloadTotalTimeout = std::chrono::minutes(10);
constexpr long kDownloadStallSeconds = 60;
// Downloads are creatives and scripts; anything this large is a broken or hostile server.
constexpr curl_off_t kMaxDownloadBytes = 256 * 1024 * 1024;
constexpr long kMaxRedirects = 5;
// The longest the loop sleeps without looking at its queues (a safety net; wakeups are explicit).
constexpr int kMaxPollMillis = 1000;

using Steady = std::chrono::steady_clock;

// The queue of this file's making whose task the current thread runs (0: none).
thread_local std::uint64_t tlsCurrentQueue = 0;
std::atomic<std::uint64_t> nextQueueId{1};

void ensureCurlInitialized() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long toMillis(Duration d) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  // 0 would mean "no timeout" to curl.
  return static_cast<long>(std::max<std::int64_t>(ms, 1));
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// Shared between the caller's task handle and the network thread.
struct TaskState {
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> finished{false};
};

struct Shared;

class TaskHandle : public HttpTask {
 public:
  TaskHandle(std::shared_ptr<TaskState> state, std::weak_ptr<Shared> shared)
      : state_(std::move(state)), shared_(std::move(shared)) {}
  void cancel() override;

 private:
  std::shared_ptr<TaskState> state_;
  std::weak_ptr<Shared> shared_;
};

// One request or download; owned by the network thread once queued.
struct Transfer {
  std::shared_ptr<TaskState> state;
  HttpRequest request;
  bool isDownload = false;
  // The client's own queue the completion runs on as a task, or 0 for none.
  std::uint64_t deliverOn = 0;
  std::function<void(HttpResult)> onSend;
  std::function<void(DownloadResult)> onDownload;

  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  HttpHeaders responseHeaders;
  std::string body;
  bool tooLarge = false;
  bool writeFailed = false;
  std::FILE* file = nullptr;
  std::filesystem::path filePath;

  ~Transfer() {
    if (file) std::fclose(file);
    if (easy) curl_easy_cleanup(easy);
    if (headerList) curl_slist_free_all(headerList);
  }
};

// A task of one of the client's queues, due at a time on the steady clock.
struct QueuedTask {
  Steady::time_point due;
  std::uint64_t seq = 0;
  std::uint64_t queueId = 0;
  Task task;
};

struct LaterTask {
  bool operator()(const QueuedTask& a, const QueuedTask& b) const {
    return a.due != b.due ? a.due > b.due : a.seq > b.seq;
  }
};

struct Shared {
  std::mutex mutex;
  CURLM* multi = nullptr;  // guarded by mutex for wakeups; the network thread owns it otherwise
  std::deque<std::shared_ptr<Transfer>> incoming;
  std::priority_queue<QueuedTask, std::vector<QueuedTask>, LaterTask> tasks;
  std::uint64_t taskSeq = 0;
  bool stopping = false;
  // Work arrived from the network thread itself, which is awake: it only must not sleep next.
  bool poked = false;
  std::atomic<std::size_t> connectionsOpened{0};
  std::atomic<std::thread::id> networkThread;

  bool onNetworkThread() const { return networkThread.load() == std::this_thread::get_id(); }

  void wakeUpLocked() {
    if (onNetworkThread()) {
      poked = true;
    } else if (multi) {
      curl_multi_wakeup(multi);
    }
  }

  void wakeUp() {
    std::lock_guard<std::mutex> lock(mutex);
    wakeUpLocked();
  }

  // False once the client is stopping; the caller then drops the task (outside the lock).
  bool post(std::uint64_t queueId, Steady::time_point due, Task& task) {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return false;
    tasks.push(QueuedTask{due, taskSeq++, queueId, std::move(task)});
    wakeUpLocked();
    return true;
  }
};

// A serial queue on the network thread: all of the client's queues share that one thread, which
// keeps each of them serial.
class NetworkQueue : public TaskQueue {
 public:
  NetworkQueue(std::weak_ptr<Shared> shared, std::string label)
      : shared_(std::move(shared)), label_(std::move(label)) {}

  void post(Task task) override { postAt(Steady::now(), std::move(task)); }
  void postAfter(Duration delay, Task task) override {
    postAt(Steady::now() + std::max(delay, Duration::zero()), std::move(task));
  }
  const std::string& label() const override { return label_; }
  bool isCurrent() const override { return tlsCurrentQueue == id_; }

  std::uint64_t id() const { return id_; }
  bool belongsTo(const std::shared_ptr<Shared>& shared) const {
    return !shared_.owner_before(shared) && !shared.owner_before(shared_);
  }

 private:
  void postAt(Steady::time_point due, Task task) {
    if (auto shared = shared_.lock()) shared->post(id_, due, task);
    // A task the client no longer takes is dropped here, on the caller's thread.
  }

  std::weak_ptr<Shared> shared_;
  std::string label_;
  const std::uint64_t id_ = nextQueueId.fetch_add(1);
};

// Runs `f` as a task of queue `queueId` (0: outside any).
template <typename F>
void asTaskOf(std::uint64_t queueId, F&& f) {
  const std::uint64_t saved = std::exchange(tlsCurrentQueue, queueId);
  f();
  tlsCurrentQueue = saved;
}

void TaskHandle::cancel() {
  if (state_->finished.load() || state_->cancelRequested.exchange(true)) return;
  if (auto shared = shared_.lock()) shared->wakeUp();
}

size_t onBodyBytes(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  if (t->isDownload) {
    if (std::fwrite(data, 1, n, t->file) != n) {
      t->writeFailed = true;
      return 0;
    }
    return n;
  }
  if (t->body.size() + n > t->request.maxResponseBytes) {
    t->tooLarge = true;
    return 0;
  }
  t->body.append(data, n);
  return n;
}

size_t onHeaderLine(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = size * count;
  std::string_view line(data, n);
  if (line.starts_with("HTTP/")) {
    // A new response begins (after a redirect or an interim 1xx): keep only the final one's.
    t->responseHeaders.clear();
    return n;
  }
  auto colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return n;
  t->responseHeaders.emplace_back(std::string(trim(line.substr(0, colon))),
                                  std::string(trim(line.substr(colon + 1))));
  return n;
}

HttpError::Kind kindFor(CURLcode code, long osErrno, const Transfer& t) {
  if (t.tooLarge) return HttpError::Kind::tooLarge;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return HttpError::Kind::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
      // No route to the network at all is the one failure a retry cannot help.
      return osErrno == ENETUNREACH ? HttpError::Kind::noConnection
                                    : HttpError::Kind::cannotConnect;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return HttpError::Kind::connectionLost;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return HttpError::Kind::secureConnectionFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpError::Kind::timedOut;
    case CURLE_FILESIZE_EXCEEDED:
      return HttpError::Kind::tooLarge;
    case CURLE_ABORTED_BY_CALLBACK:
      return HttpError::Kind::cancelled;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_PARTIAL_FILE:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_TOO_MANY_REDIRECTS:
      return HttpError::Kind::badResponse;
    default:
      return HttpError::Kind::other;
  }
}

template <typename F, typename... Args>
void invokeQuietly(F& f, Args&&... args) {
  if (!f) return;
  try {
    f(std::forward<Args>(args)...);
  } catch (...) {
    // A throwing completion must not take the network thread down with it.
  }
}

void removeFile(const std::filesystem::path& path) {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove(path, ignored);
}

// Runs on the network thread.
class Loop {
 public:
  Loop(std::shared_ptr<Shared> shared, std::filesystem::path downloadDirectory)
      : shared_(std::move(shared)), downloadDirectory_(std::move(downloadDirectory)) {}

  void run() {
    setCurrentThreadName("orvex-http");
    CURLM* multi = shared_->multi;
    for (;;) {
      if (startIncoming()) {
        shutDown(multi);
        return;
      }
      reapCancelled(multi);
      runDueTasks();
      // Work the tasks just queued goes out in this turn, not after another poll.
      if (startIncoming()) continue;
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        auto it = std::find_if(active_.begin(), active_.end(),
                               [&](const auto& t) { return t->easy == msg->easy_handle; });
        if (it == active_.end()) continue;
        std::shared_ptr<Transfer> t = std::move(*it);
        active_.erase(it);
        CURLcode code = msg->data.result;
        release(multi, *t);
        complete(*t, code);
      }
      // Only a broken multi handle fails here; back off rather than spin.
      if (curl_multi_poll(multi, nullptr, 0, pollMillis(), nullptr) != CURLM_OK) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }

 private:
  // Starts what was sent since the last turn; true when the client is stopping.
  bool startIncoming() {
    std::deque<std::shared_ptr<Transfer>> incoming;
    bool stopping;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      incoming.swap(shared_->incoming);
      stopping = shared_->stopping;
    }
    for (auto& t : incoming) {
      if (stopping || t->state->cancelRequested.load()) {
        finishWithError(*t, HttpError::Kind::cancelled, "cancelled");
      } else {
        start(std::move(t));
      }
    }
    return stopping;
  }

  // Runs the queues' tasks that were due when it began; tasks they post wait for the next turn.
  void runDueTasks() {
    const auto now = Steady::now();
    std::uint64_t end;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      end = shared_->taskSeq;
    }
    for (;;) {
      QueuedTask next;
      {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        auto& tasks = shared_->tasks;
        if (tasks.empty() || tasks.top().due > now || tasks.top().seq >= end) return;
        next = std::move(const_cast<QueuedTask&>(tasks.top()));
        tasks.pop();
      }
      asTaskOf(next.queueId, [&] { runGuarded(next.task); });
    }
  }

  // How long the loop may sleep: until the next task falls due, or not at all when work waits.
  int pollMillis() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (std::exchange(shared_->poked, false) || !shared_->incoming.empty() || shared_->stopping)
      return 0;
    if (shared_->tasks.empty()) return kMaxPollMillis;
    const auto wait = shared_->tasks.top().due - Steady::now();
    if (wait <= Duration::zero()) return 0;
    // Rounded up, so that the task is due when the loop wakes.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return static_cast<int>(std::min<std::int64_t>(ms, kMaxPollMillis));
  }

  void shutDown(CURLM* multi) {
    for (;;) {
      for (auto& t : active_) {
        release(multi, *t);
        finishWithError(*t, HttpError::Kind::cancelled, "cancelled");
      }
      active_.clear();
      // Completions may have sent more; that is cancelled too before leaving.
      bool more;
      {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        more = !shared_->incoming.empty();
      }
      if (!more) break;
      startIncoming();
    }
    // Waiting tasks are dropped outside the lock: their closures may post (and be refused).
    decltype(shared_->tasks) dropped;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      std::swap(dropped, shared_->tasks);
      curl_multi_cleanup(multi);
      shared_->multi = nullptr;
    }
  }

  void start(std::shared_ptr<Transfer> t) {
    const HttpRequest& r = t->request;
    if (t->isDownload) {
      std::string pattern = (downloadDirectory_ / "orvex-download-XXXXXX").string();
      int fd = mkstemp(pattern.data());
      if (fd < 0 || !(t->file = fdopen(fd, "wb"))) {
        if (fd >= 0) close(fd);
        finishWithError(*t, HttpError::Kind::other, "cannot create a temporary file");
        return;
      }
      t->filePath = pattern;
    }
    t->easy = curl_easy_init();
    if (!t->easy) {
      finishWithError(*t, HttpError::Kind::other, "curl_easy_init failed");
      return;
    }
    CURL* e = t->easy;
    curl_easy_setopt(e, CURLOPT_URL, r.url.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // A transfer still resolving its name is let go at once when it is removed or times out:
    // the resolver thread is forgotten instead of joined, which would stall this loop.
#if LIBCURL_VERSION_NUM >= 0x075700
    curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, toMillis(r.timeout));
    if (t->isDownload) {
      curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
      curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, kDownloadStallSeconds);
    }
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     toMillis(std::min(r.timeout, kMaxConnectTimeout)));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &onBodyBytes);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &onHeaderLine);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
    curl_off_t limit = kMaxDownloadBytes;
    if (!t->isDownload) {
      limit = static_cast<curl_off_t>(
          std::min<std::size_t>(r.maxResponseBytes, std::numeric_limits<curl_off_t>::max()));
    }
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, limit);

    bool hasBody = !r.body.empty() || r.method == "POST";
    if (r.method == "GET") {
      curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (r.method == "HEAD") {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
      hasBody = false;
    } else {
      if (r.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method.c_str());
    }
    if (hasBody) {
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body.data());
    }

    bool hasContentType = false;
    for (const auto& [name, value] : r.headers) {
      if (equalsIgnoringCase(name, "Content-Type")) hasContentType = true;
      // "Name:" would remove the header; "Name;" is curl's way to send it empty.
      std::string line = value.empty() ? name + ";" : name + ": " + value;
      t->headerList = curl_slist_append(t->headerList, line.c_str());
    }
    // curl would otherwise label bodies as form data and stall bigger ones on 100-continue.
    if (hasBody && !hasContentType)
      t->headerList = curl_slist_append(t->headerList, "Content-Type:");
    if (hasBody) t->headerList = curl_slist_append(t->headerList, "Expect:");
    if (t->headerList) curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);

    if (curl_multi_add_handle(shared_->multi, e) != CURLM_OK) {
      finishWithError(*t, HttpError::Kind::other, "curl_multi_add_handle failed");
      return;
    }
    active_.push_back(std::move(t));
  }

  // Takes a transfer off the multi handle, counting the connections it had to open.
  void release(CURLM* multi, Transfer& t) {
    long connects = 0;
    curl_easy_getinfo(t.easy, CURLINFO_NUM_CONNECTS, &connects);
    if (connects > 0) shared_->connectionsOpened.fetch_add(static_cast<std::size_t>(connects));
    curl_multi_remove_handle(multi, t.easy);
  }

  void reapCancelled(CURLM* multi) {
    for (auto it = active_.begin(); it != active_.end();) {
      if ((*it)->state->cancelRequested.load()) {
        std::shared_ptr<Transfer> t = std::move(*it);
        it = active_.erase(it);
        release(multi, *t);
        finishWithError(*t, HttpError::Kind::cancelled, "cancelled");
      } else {
        ++it;
      }
    }
  }

  void complete(Transfer& t, CURLcode code) {
    // A cancel that raced the last bytes still wins: the caller has already given up on it.
    if (t.state->cancelRequested.load()) {
      finishWithError(t, HttpError::Kind::cancelled, "cancelled");
      return;
    }
    long status = 0;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &status);

    if (code != CURLE_OK) {
      std::string message = t.errorBuffer[0] ? t.errorBuffer : curl_easy_strerror(code);
      if (t.tooLarge)
        message = "response larger than " + std::to_string(t.request.maxResponseBytes);
      if (t.writeFailed) message = "cannot write the downloaded file";
      long osErrno = 0;
      curl_easy_getinfo(t.easy, CURLINFO_OS_ERRNO, &osErrno);
      finishWithError(t, t.writeFailed ? HttpError::Kind::other : kindFor(code, osErrno, t),
                      message, static_cast<int>(status));
      return;
    }
    if (t.isDownload) {
      bool flushed = std::fflush(t.file) == 0;
      std::fclose(t.file);
      t.file = nullptr;
      if (status >= 400) {
        finishWithError(t, HttpError::Kind::badResponse, "HTTP status " + std::to_string(status),
                        static_cast<int>(status));
      } else if (!flushed) {
        finishWithError(t, HttpError::Kind::other, "cannot write the downloaded file",
                        static_cast<int>(status));
      } else {
        t.state->finished.store(true);
        DownloadResult result;
        result.file = t.filePath;
        result.status = static_cast<int>(status);
        invokeQuietly(t.onDownload, std::move(result));
      }
      return;
    }
    t.state->finished.store(true);
    HttpResult result;
    result.response =
        HttpResponse{static_cast<int>(status), std::move(t.responseHeaders), std::move(t.body)};
    deliver(t, std::move(result));
  }

  void deliver(Transfer& t, HttpResult result) {
    asTaskOf(t.deliverOn, [&] { invokeQuietly(t.onSend, std::move(result)); });
  }

  void finishWithError(Transfer& t, HttpError::Kind kind, std::string message, int status = 0) {
    t.state->finished.store(true);
    if (t.isDownload) {
      if (t.file) {
        std::fclose(t.file);
        t.file = nullptr;
      }
      removeFile(t.filePath);
      DownloadResult result;
      result.error = HttpError{kind, std::move(message)};
      result.status = status;
      invokeQuietly(t.onDownload, std::move(result));
    } else {
      HttpResult result;
      result.error = HttpError{kind, std::move(message)};
      deliver(t, std::move(result));
    }
  }

  std::shared_ptr<Shared> shared_;
  std::filesystem::path downloadDirectory_;
  std::vector<std::shared_ptr<Transfer>> active_;
};

}  // namespace

struct CurlHttpClient::Impl {
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();
  std::thread thread;

  std::shared_ptr<HttpTask> enqueue(std::shared_ptr<Transfer> t) {
    auto handle = std::make_shared<TaskHandle>(t->state, shared);
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->incoming.push_back(std::move(t));
      shared->wakeUpLocked();
    }
    return handle;
  }

  std::shared_ptr<HttpTask> send(HttpRequest request, std::function<void(HttpResult)> completion,
                                 std::uint64_t deliverOn) {
    auto t = std::make_shared<Transfer>();
    t->state = std::make_shared<TaskState>();
    t->request = std::move(request);
    t->onSend = std::move(completion);
    t->deliverOn = deliverOn;
    return enqueue(std::move(t));
  }
};

CurlHttpClient::CurlHttpClient(std::filesystem::path downloadDirectory)
    : impl_(std::make_unique<Impl>()) {
  if (downloadDirectory.empty()) {
    std::error_code ec;
    downloadDirectory = std::filesystem::temp_directory_path(ec);
    if (ec) downloadDirectory = "/tmp";
  }
  ensureCurlInitialized();
  CURLM* multi = curl_multi_init();
  curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
  impl_->shared->multi = multi;
  impl_->thread = std::thread(
      [shared = impl_->shared, dir = std::move(downloadDirectory)] { Loop(shared, dir).run(); });
  impl_->shared->networkThread = impl_->thread.get_id();
}

CurlHttpClient::~CurlHttpClient() {
  {
    std::lock_guard<std::mutex> lock(impl_->shared->mutex);
    impl_->shared->stopping = true;
    if (impl_->shared->multi) curl_multi_wakeup(impl_->shared->multi);
  }
  // Destroyed from one of its own completions or queues: the loop finishes on its own, holding
  // what it needs, so it must not join itself.
  if (impl_->thread.get_id() == std::this_thread::get_id()) {
    impl_->thread.detach();
  } else if (impl_->thread.joinable()) {
    impl_->thread.join();
  }
}

std::shared_ptr<HttpTask> CurlHttpClient::send(HttpRequest request,
                                               std::function<void(HttpResult)> completion) {
  return impl_->send(std::move(request), std::move(completion), 0);
}

std::shared_ptr<HttpTask> CurlHttpClient::sendOn(std::shared_ptr<TaskQueue> queue,
                                                 HttpRequest request,
                                                 std::function<void(HttpResult)> completion) {
  auto* own = dynamic_cast<NetworkQueue*>(queue.get());
  if (!own || !own->belongsTo(impl_->shared))
    return HttpClient::sendOn(std::move(queue), std::move(request), std::move(completion));
  // The queue lives on this thread, so the completion runs there as its task, without a post.
  // It holds the queue weakly, as a post would: nothing runs once the queue is gone.
  std::weak_ptr<TaskQueue> target = queue;
  return impl_->send(
      std::move(request),
      [target, completion = std::move(completion)](HttpResult result) mutable {
        if (target.lock()) completion(std::move(result));
      },
      own->id());
}

std::shared_ptr<TaskQueue> CurlHttpClient::makeSerialQueue(const std::string& label) {
  auto queue = std::make_shared<NetworkQueue>(impl_->shared, label);
  // The network thread carries the name of the queue made last (the request queue, for the
  // connector), so that it shows what it runs.
  queue->post([label] { setCurrentThreadName(label); });
  return queue;
}

std::shared_ptr<HttpTask> CurlHttpClient::download(std::string url,
                                                   std::function<void(DownloadResult)> completion) {
  auto t = std::make_shared<Transfer>();
  t->state = std::make_shared<TaskState>();
  t->request.url = std::move(url);
  t->request.timeout = kDownloadTotalTimeout;
  t->isDownload = true;
  t->onDownload = std::move(completion);
  return impl_->enqueue(std::move(t));
}

std::size_t CurlHttpClient::connectionsOpened() const {
  return impl_->shared->connectionsOpened.load();
}

}  // namespace orvex::linux_port
