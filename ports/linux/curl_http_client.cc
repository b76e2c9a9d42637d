#include "ports/linux/curl_http_client.h"

#include <curl/curl.h>
#include <pthread.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

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

struct Shared {
  std::mutex mutex;
  CURLM* multi = nullptr;  // guarded by mutex for wakeups; the network thread owns it otherwise
  std::deque<std::shared_ptr<Transfer>> incoming;
  bool stopping = false;
  std::atomic<std::size_t> connectionsOpened{0};

  void wakeUp() {
    std::lock_guard<std::mutex> lock(mutex);
    if (multi) curl_multi_wakeup(multi);
  }
};

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

HttpError::Kind kindFor(CURLcode code, const Transfer& t) {
  if (t.tooLarge) return HttpError::Kind::tooLarge;
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return HttpError::Kind::noConnection;
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
    pthread_setname_np(pthread_self(), "orvex-http");
    CURLM* multi = shared_->multi;
    for (;;) {
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
      if (stopping) {
        for (auto& t : active_) {
          release(multi, *t);
          finishWithError(*t, HttpError::Kind::cancelled, "cancelled");
        }
        active_.clear();
        // Completions may have queued more work; it is cancelled too before leaving.
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (!shared_->incoming.empty()) continue;
        curl_multi_cleanup(multi);
        shared_->multi = nullptr;
        return;
      }
      reapCancelled(multi);
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
      if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
  }

 private:
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
      finishWithError(t, t.writeFailed ? HttpError::Kind::other : kindFor(code, t), message,
                      static_cast<int>(status));
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
    invokeQuietly(t.onSend, std::move(result));
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
      invokeQuietly(t.onSend, std::move(result));
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
      if (shared->multi) curl_multi_wakeup(shared->multi);
    }
    return handle;
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
}

CurlHttpClient::~CurlHttpClient() {
  {
    std::lock_guard<std::mutex> lock(impl_->shared->mutex);
    impl_->shared->stopping = true;
    if (impl_->shared->multi) curl_multi_wakeup(impl_->shared->multi);
  }
  // Destroyed from one of its own completions: the loop finishes on its own, holding what it
  // needs, so it must not join itself.
  if (impl_->thread.get_id() == std::this_thread::get_id()) {
    impl_->thread.detach();
  } else if (impl_->thread.joinable()) {
    impl_->thread.join();
  }
}

std::shared_ptr<HttpTask> CurlHttpClient::send(HttpRequest request,
                                               std::function<void(HttpResult)> completion) {
  auto t = std::make_shared<Transfer>();
  t->state = std::make_shared<TaskState>();
  t->request = std::move(request);
  t->onSend = std::move(completion);
  return impl_->enqueue(std::move(t));
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
