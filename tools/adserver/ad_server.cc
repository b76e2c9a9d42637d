#include "tools/adserver/ad_server.h"

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "tools/adserver/graphql.h"

namespace adserver {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using graphql::Value;
using Kind = graphql::Value::Kind;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool readFile(const fs::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  return true;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string errorBody(const std::string& message) {
  return Json{{"errors", Json::array({Json{{"message", message}}})}}.dump();
}

void substituteBase(Json& j, const std::string& base) {
  if (j.is_string()) {
    std::string s = j.get<std::string>();
    static const std::string kMacro = "{{base}}";
    for (size_t at = s.find(kMacro); at != std::string::npos; at = s.find(kMacro, at)) {
      s.replace(at, kMacro.size(), base);
      at += base.size();
    }
    j = s;
  } else if (j.is_structured()) {
    for (auto& child : j) substituteBase(child, base);
  }
}

// Keeps what the selection set asks for, in its order and under its aliases. Members the
// source lacks are left out: the SDK reads absent and null alike.
Json select(const Json& source, const std::vector<graphql::Field>& selection) {
  if (selection.empty()) return source;
  if (source.is_array()) {
    Json out = Json::array();
    for (const auto& item : source) out.push_back(select(item, selection));
    return out;
  }
  if (!source.is_object()) return source;
  Json out = Json::object();
  for (const auto& field : selection) {
    auto it = source.find(field.name);
    if (it == source.end() || it->is_null()) continue;
    out[field.responseKey()] = select(*it, field.selection);
  }
  return out;
}

std::string contentTypeFor(const fs::path& path) {
  static const std::map<std::string, std::string> kTypes = {{".png", "image/png"},
                                                            {".jpg", "image/jpeg"},
                                                            {".jpeg", "image/jpeg"},
                                                            {".gif", "image/gif"},
                                                            {".webp", "image/webp"},
                                                            {".svg", "image/svg+xml"},
                                                            {".mp4", "video/mp4"},
                                                            {".webm", "video/webm"},
                                                            {".js", "text/javascript"},
                                                            {".html", "text/html; charset=utf-8"},
                                                            {".css", "text/css"},
                                                            {".json", "application/json"},
                                                            {".txt", "text/plain; charset=utf-8"}};
  std::string ext = path.extension().string();
  for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto it = kTypes.find(ext);
  return it == kTypes.end() ? "application/octet-stream" : it->second;
}

// Relative paths that stay inside the served directory: no "..", no absolute paths.
bool isSafeRelativePath(const std::string& rel) {
  if (rel.empty() || rel.front() == '/' || rel.find('\\') != std::string::npos ||
      rel.find('\0') != std::string::npos) {
    return false;
  }
  size_t start = 0;
  while (start <= rel.size()) {
    size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    if (rel.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

int portOf(const sockaddr_storage& addr) {
  if (addr.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
  }
  if (addr.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
  }
  return -1;
}

// httplib keeps its connections' sockets to itself, so find them by their ports: a local port of
// `localPort` and, when `peerPort` is not negative, that peer port. Each match goes to `act`
// (the descriptor stays httplib's); a known peer port matches one connection at most.
template <typename Act>
void forEachConnection(int localPort, int peerPort, Act act) {
  long maxFd = sysconf(_SC_OPEN_MAX);
  if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
  for (int fd = 0; fd < maxFd; ++fd) {
    sockaddr_storage local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0) continue;
    if (portOf(local) != localPort) continue;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0) continue;
    if (peerPort >= 0 && portOf(peer) != peerPort) continue;
    act(fd);
    if (peerPort >= 0) return;
  }
}

// shutdown(), not close(): httplib then fails its next read or write and closes the descriptor.
void shutDownConnections(int localPort, int peerPort) {
  forEachConnection(localPort, peerPort, [](int fd) { ::shutdown(fd, SHUT_RDWR); });
}

void dropConnection(const httplib::Request& req) {
  shutDownConnections(req.local_port, req.remote_port);
}

// Aborts one connection with a reset, as a crashed peer or a middlebox would: connecting a TCP
// socket to AF_UNSPEC disconnects it at once.
void resetConnection(int localPort, int peerPort) {
  forEachConnection(localPort, peerPort, [](int fd) {
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(fd, &unspecified, sizeof unspecified);
  });
}

// Every scalar turned into another JSON type (strings into numbers, numbers and booleans into
// strings), structure kept: an answer of the right shape that a strict reader must refuse.
void swapTypes(Json& j) {
  if (j.is_string()) {
    j = static_cast<int64_t>(j.get<std::string>().size());
  } else if (j.is_number() || j.is_boolean()) {
    j = j.dump();
  } else if (j.is_structured()) {
    for (auto& child : j) swapTypes(child);
  }
}

// One input member the service insists on.
struct InputRule {
  const char* name;
  Kind kind;
};

const std::vector<InputRule>& rulesFor(const std::string& op) {
  static const std::vector<InputRule> kAd = {
      {"uid", Kind::kString},   {"unit", Kind::kString},      {"lcl", Kind::kString},
      {"tz", Kind::kString},    {"pf", Kind::kString},        {"osv", Kind::kString},
      {"model", Kind::kString}, {"size", Kind::kObject},      {"appv", Kind::kString},
      {"sdkv", Kind::kString},  {"adId", Kind::kString},      {"portrait", Kind::kBool},
      {"reqAt", Kind::kInt},    {"contextId", Kind::kString}, {"theme", Kind::kString}};
  static const std::vector<InputRule> kAds = [] {
    std::vector<InputRule> rules;
    for (const auto& r : kAd) {
      if (std::string(r.name) != "contextId") rules.push_back(r);
    }
    return rules;
  }();
  static const std::vector<InputRule> kConfig = {{"uid", Kind::kString},
                                                 {"sdkv", Kind::kString},
                                                 {"tagHash", Kind::kString},
                                                 {"metaInfo", Kind::kString},
                                                 {"production", Kind::kBool}};
  static const std::vector<InputRule> kInvoke = {{"uid", Kind::kString},
                                                 {"key", Kind::kString},
                                                 {"value", Kind::kString},
                                                 {"time", Kind::kInt}};
  if (op == "requestAd") return kAd;
  if (op == "requestAds") return kAds;
  if (op == "getRemoteConfig") return kConfig;
  return kInvoke;
}

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kNull:
      return "null";
    case Kind::kString:
      return "string";
    case Kind::kInt:
      return "integer";
    case Kind::kFloat:
      return "float";
    case Kind::kBool:
      return "boolean";
    case Kind::kEnum:
      return "enum";
    case Kind::kList:
      return "list";
    case Kind::kObject:
      return "object";
  }
  return "?";
}

// Checks the input object against the operation's members; the empty text when it fits.
std::string checkInput(const std::string& op, const Value* input) {
  if (input == nullptr || input->kind != Kind::kObject) return "argument input must be an object";
  const auto& rules = rulesFor(op);
  for (const auto& rule : rules) {
    const Value* v = input->find(rule.name);
    if (v == nullptr) return std::string("input.") + rule.name + " is missing";
    if (v->kind != rule.kind) {
      return std::string("input.") + rule.name + " must be " + kindName(rule.kind) + ", not " +
             kindName(v->kind);
    }
  }
  for (const auto& [name, value] : input->fields) {
    bool known = false;
    for (const auto& rule : rules) known = known || name == rule.name;
    if (!known) return "input." + name + " is not an input of " + op;
  }
  if (const Value* size = input->find("size"); size != nullptr && op.rfind("requestAd", 0) == 0) {
    for (const char* dim : {"h", "w"}) {
      const Value* d = size->find(dim);
      if (d == nullptr || d->kind != Kind::kFloat) {
        return std::string("input.size.") + dim + " must be a float";
      }
    }
    if (size->fields.size() != 2) return "input.size takes only h and w";
  }
  return "";
}

struct Answer {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  std::string operation;
};

}  // namespace

class AdServer::Impl {
 public:
  explicit Impl(Options options) : options_(std::move(options)) {}
  ~Impl() { stop(); }

  bool start(std::string* error) {
    if (thread_.joinable()) {
      if (error != nullptr) *error = "already started";
      return false;
    }
    std::string problem;
    if (!loadFixtures(&problem)) {
      if (error != nullptr) *error = problem;
      return false;
    }
    if (!options_.logFile.empty()) {
      log_.open(options_.logFile, std::ios::out | std::ios::trunc);
      if (!log_) {
        if (error != nullptr) *error = "cannot open log file " + options_.logFile;
        return false;
      }
    }
    // A dropped or truncated answer makes later writes hit a closed socket; that must fail the
    // write, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    server_ = std::make_unique<httplib::Server>();
    // Like a production front end: small answers go out at once (no Nagle wait against the
    // client's delayed ACK), and a connection serves any number of requests.
    server_->set_tcp_nodelay(true);
    server_->set_keep_alive_max_count(1 << 20);
    // The SDK's documents are a few kilobytes; a larger body is refused (413) and not kept.
    server_->set_payload_max_length(kMaxRequestBodyBytes);
    installRoutes();
    int bound = -1;
    if (options_.port == 0) {
      bound = server_->bind_to_any_port(options_.host);
    } else if (server_->bind_to_port(options_.host, options_.port)) {
      bound = options_.port;
    }
    if (bound <= 0) {
      if (error != nullptr) {
        *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
      }
      server_.reset();
      return false;
    }
    port_ = bound;
    {
      std::lock_guard lock(stopMutex_);
      stopping_ = false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
  }

  void stop() {
    {
      std::lock_guard lock(stopMutex_);
      stopping_ = true;
    }
    stopCv_.notify_all();
    if (server_) server_->stop();
    // Idle keep-alive connections would hold the workers (and so the join) for seconds.
    if (port_ > 0) shutDownConnections(port_, -1);
    if (thread_.joinable()) thread_.join();
    server_.reset();
    std::lock_guard lock(mutex_);
    if (log_.is_open()) log_.close();
  }

  int port() const { return port_; }

  std::string baseUrl() const {
    std::string host = options_.host;
    if (host == "0.0.0.0" || host.empty()) host = "127.0.0.1";
    return "http://" + host + ":" + std::to_string(port_.load());
  }

  std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  void clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

  void setFault(const std::string& path, Fault fault) {
    std::lock_guard lock(mutex_);
    if (fault.times == 0) {
      faults_.erase(path);
    } else {
      faults_[path] = fault;
    }
  }

  void clearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
  }

 private:
  bool loadFixtures(std::string* problem) {
    fs::path dir(options_.fixtures);
    std::error_code ec;
    if (options_.fixtures.empty() || !fs::is_directory(dir, ec)) {
      *problem = "fixtures directory not found: " + options_.fixtures;
      return false;
    }
    keys_.clear();
    units_.clear();
    for (const auto& key : options_.appKeys) keys_.insert(key);
    std::string text;
    if (readFile(dir / "app_keys.txt", &text)) {
      std::istringstream lines(text);
      for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        if (!line.empty() && line.front() != '#') keys_.insert(line);
      }
    }
    remoteConfig_ = Json::object();
    if (readFile(dir / "remote_config.json", &text)) {
      remoteConfig_ = Json::parse(text, nullptr, false);
      if (!remoteConfig_.is_object()) {
        *problem = "remote_config.json is not a JSON object";
        return false;
      }
    }
    if (fs::is_directory(dir / "units", ec)) {
      for (const auto& entry : fs::directory_iterator(dir / "units", ec)) {
        if (entry.path().extension() != ".json") continue;
        if (!readFile(entry.path(), &text)) continue;
        Json unit = Json::parse(text, nullptr, false);
        if (unit.is_object()) unit = Json::array({unit});
        if (!unit.is_array()) {
          *problem = entry.path().filename().string() + " is neither an object nor an array";
          return false;
        }
        for (const auto& ad : unit) {
          if (!ad.is_object()) {
            *problem = entry.path().filename().string() + " holds a non-object ad";
            return false;
          }
        }
        units_[entry.path().stem().string()] = std::move(unit);
      }
    }
    staticDir_ = dir / "static";
    questDir_ = dir / "quest";
    return true;
  }

  void installRoutes() {
    for (const char* path : {"/request-ads", "/remote-config", "/events", "/graphql"}) {
      std::string endpoint = path;
      server_->Post(endpoint,
                    [this, endpoint](const httplib::Request& req, httplib::Response& res) {
                      finish(req, res, answerGraph(req, endpoint));
                    });
    }
    server_->Get(R"(/static/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
      finish(req, res, answerFile(staticDir_, req.matches[1].str()));
    });
    // The quest site: static pages, a directory answering with its index.html.
    server_->Get(R"(/quest(/.*)?)", [this](const httplib::Request& req, httplib::Response& res) {
      std::string rel = req.matches[1].str();
      while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
      std::error_code ec;
      if (rel.empty() || rel.back() == '/' || fs::is_directory(questDir_ / rel, ec)) {
        if (!rel.empty() && rel.back() != '/') rel += '/';
        rel += "index.html";
      }
      finish(req, res, answerFile(questDir_, rel));
    });
    server_->Get(R"(/cdn/player@([^/]+)/ad-player\.bundled\.min\.js)",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   finish(req, res, answerFile(staticDir_, "ad-player.bundled.min.js"));
                 });
    server_->Post("/__control", [this](const httplib::Request& req, httplib::Response& res) {
      controlFault(req, res);
    });
    server_->Delete("/__control", [this](const httplib::Request&, httplib::Response& res) {
      clearFaults();
      res.set_content(R"({"ok":true})", "application/json");
    });
    server_->Get("/__requests", [this](const httplib::Request&, httplib::Response& res) {
      Json all = Json::array();
      for (const auto& r : requests()) all.push_back(toJson(r));
      res.set_content(all.dump(), "application/json");
    });
    server_->Delete("/__requests", [this](const httplib::Request&, httplib::Response& res) {
      clearRequests();
      res.set_content(R"({"ok":true})", "application/json");
    });
    server_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty()) {
        res.set_content(errorBody(res.status == 404 ? "not found" : "error"), "application/json");
      }
    });
  }

  Answer answerGraph(const httplib::Request& req, const std::string& endpoint) {
    Answer a;
    std::optional<graphql::Document> doc;
    std::string parseError = "body must be a JSON object with a string member query";
    Json body = Json::parse(req.body, nullptr, false);
    if (body.is_object() && body.contains("query") && body["query"].is_string()) {
      doc = graphql::parse(body["query"].get<std::string>(), &parseError);
      if (doc && !doc->selection.empty()) a.operation = doc->selection.front().name;
    }
    auto fail = [&a](int status, const std::string& message) {
      a.status = status;
      a.body = errorBody(message);
      return a;
    };
    if (!req.has_header("Authorization") ||
        keys_.count(req.get_header_value("Authorization")) == 0) {
      return fail(401, "unauthorized");
    }
    if (!doc) return fail(400, parseError);
    if (doc->selection.size() != 1) return fail(400, "exactly one top-level field expected");
    const graphql::Field& field = doc->selection.front();
    const std::string& op = field.name;
    static const std::map<std::string, std::string> kHome = {{"requestAd", "/request-ads"},
                                                             {"requestAds", "/request-ads"},
                                                             {"getRemoteConfig", "/remote-config"},
                                                             {"invoke", "/events"}};
    auto home = kHome.find(op);
    if (home == kHome.end()) return fail(400, "unknown field " + op);
    if (endpoint != "/graphql" && endpoint != home->second) {
      return fail(400, op + " is not served on " + endpoint);
    }
    const std::string wantType = op == "invoke" ? "mutation" : "query";
    if (doc->operationType != wantType) return fail(400, op + " must be sent as a " + wantType);
    const Value* input = field.argument("input");
    if (std::string problem = checkInput(op, input); !problem.empty()) return fail(400, problem);

    Json value;
    if (op == "requestAd" || op == "requestAds") {
      const std::string& unit = input->find("unit")->text;
      Json ads = adsFor(unit);
      if (op == "requestAd") {
        value = ads.empty() ? Json{{"id", ""}, {"creative", ""}} : ads.front();
      } else {
        value = std::move(ads);
      }
    } else if (op == "getRemoteConfig") {
      value = remoteConfig_;
      substituteBase(value, baseUrl());
      value["resAt"] = nowMs();
    } else {
      value = Json{{"message", "ok"}};
    }
    Json data = Json::object();
    data[field.responseKey()] = select(value, field.selection);
    a.body = Json{{"data", data}}.dump();
    return a;
  }

  // The unit's ads ready to send: server addresses filled in, fresh transaction ids.
  Json adsFor(const std::string& unit) {
    auto it = units_.find(unit);
    if (it == units_.end()) return Json::array();
    Json ads = it->second;
    const std::string base = baseUrl();
    for (size_t i = 0; i < ads.size(); ++i) {
      Json& ad = ads[i];
      substituteBase(ad, base);
      if (!ad.contains("id")) {
        // The creative id is what follows the first underscore of the last colon piece.
        ad["id"] = "local:" + std::to_string(nowMs()) + ":" + std::to_string(++sequence_) + "_" +
                   unit + "-" + std::to_string(i);
      }
      ad["resAt"] = nowMs();
    }
    return ads;
  }

  Answer answerFile(const fs::path& dir, const std::string& rel) {
    Answer a;
    if (!isSafeRelativePath(rel)) {
      a.status = 400;
      a.body = errorBody("bad path");
      return a;
    }
    fs::path path = dir / rel;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec) || !readFile(path, &a.body)) {
      a.status = 404;
      a.body = errorBody("not found");
      return a;
    }
    a.contentType = contentTypeFor(path);
    return a;
  }

  void controlFault(const httplib::Request& req, httplib::Response& res) {
    Json body = Json::parse(req.body, nullptr, false);
    auto bad = [&res](const std::string& message) {
      res.status = 400;
      res.set_content(errorBody(message), "application/json");
    };
    if (!body.is_object() || !body.contains("path") || !body["path"].is_string()) {
      return bad("a JSON object with a string member path expected");
    }
    Fault fault;
    for (const auto& [name, target] : std::initializer_list<std::pair<const char*, int*>>{
             {"status", &fault.status},
             {"delayMs", &fault.delayMs},
             {"times", &fault.times},
             {"oversizeBytes", &fault.oversizeBytes}}) {
      if (!body.contains(name)) continue;
      if (!body[name].is_number_integer()) return bad(std::string(name) + " must be an integer");
      *target = body[name].get<int>();
    }
    for (const auto& [name, target] :
         std::initializer_list<std::pair<const char*, bool*>>{{"drop", &fault.drop},
                                                              {"truncate", &fault.truncate},
                                                              {"malformed", &fault.malformed},
                                                              {"dataNull", &fault.dataNull}}) {
      if (!body.contains(name)) continue;
      if (!body[name].is_boolean()) return bad(std::string(name) + " must be a boolean");
      *target = body[name].get<bool>();
    }
    setFault(body["path"].get<std::string>(), fault);
    res.set_content(R"({"ok":true})", "application/json");
  }

  std::optional<Fault> takeFault(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto it = faults_.find(path);
    if (it == faults_.end()) return std::nullopt;
    Fault fault = it->second;
    if (it->second.times > 0 && --it->second.times == 0) faults_.erase(it);
    return fault;
  }

  // Applies a fault set for the path, sends the answer and records the exchange.
  void finish(const httplib::Request& req, httplib::Response& res, Answer a) {
    std::optional<Fault> fault = takeFault(req.path);
    if (fault && fault->delayMs > 0) {
      std::unique_lock lock(stopMutex_);
      stopCv_.wait_for(lock, std::chrono::milliseconds(fault->delayMs),
                       [this] { return stopping_; });
    }
    if (fault && fault->drop) {
      dropConnection(req);
      a.status = 0;
    } else if (fault && fault->status != 0) {
      a.status = fault->status;
      a.body = errorBody("injected fault");
      a.contentType = "application/json";
    } else if (fault && fault->dataNull) {
      a.status = 200;
      a.body = R"({"data":null})";
      a.contentType = "application/json";
    } else if (fault && fault->malformed) {
      a.status = 200;
      a.body = "<html><body>Bad gateway</body></html>";
      a.contentType = "application/json";
    } else if (fault && fault->wrongTypes && a.status == 200) {
      Json body = Json::parse(a.body, nullptr, false);
      if (body.is_object() && body.contains("data")) swapTypes(body["data"]);
      a.body = body.dump();
    } else if (fault && fault->oversizeBytes > 0) {
      const std::string head = R"({"data":{"pad":")", tail = R"("}})";
      std::size_t want = static_cast<std::size_t>(fault->oversizeBytes);
      std::size_t pad = want > head.size() + tail.size() ? want - head.size() - tail.size() : 0;
      a.status = 200;
      a.body = head + std::string(pad, 'x') + tail;
      a.contentType = "application/json";
    }
    record(req, a);
    res.status = a.status == 0 ? 500 : a.status;
    // httplib serves the asked range of a body (media players seek that way); say it is partial.
    if (res.status == 200 && !req.ranges.empty()) res.status = 206;
    if (fault && fault->reset && !fault->drop) {
      auto full = std::make_shared<std::string>(std::move(a.body));
      res.set_content_provider(full->size(), a.contentType,
                               [full, local = req.local_port, peer = req.remote_port](
                                   size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) sink.write(full->data(), full->size() / 2);
                                 resetConnection(local, peer);
                                 return false;
                               });
      return;
    }
    if (fault && fault->truncate && !fault->drop) {
      auto full = std::make_shared<std::string>(std::move(a.body));
      res.set_content_provider(full->size(), a.contentType,
                               [full](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) sink.write(full->data(), full->size() / 2);
                                 return false;  // ends the exchange with the rest unsent
                               });
      return;
    }
    res.set_content(a.body, a.contentType);
  }

  static Json toJson(const RecordedRequest& r) {
    Json headers = Json::array();
    for (const auto& [name, value] : r.headers) headers.push_back(Json::array({name, value}));
    return Json{{"method", r.method}, {"path", r.path},           {"headers", headers},
                {"body", r.body},     {"operation", r.operation}, {"status", r.status}};
  }

  void record(const httplib::Request& req, const Answer& a) {
    RecordedRequest r;
    r.method = req.method;
    r.path = req.path;
    for (const auto& [name, value] : req.headers) {
      // httplib files the peer's and its own address among the headers.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT") {
        continue;
      }
      r.headers.emplace_back(name, value);
    }
    r.body = req.body;
    r.operation = a.operation;
    r.status = a.status;
    std::lock_guard lock(mutex_);
    if (log_.is_open()) {
      Json line = toJson(r);
      line["time"] = nowMs();
      log_ << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
      log_.flush();
    }
    requests_.push_back(std::move(r));
  }

  Options options_;
  std::set<std::string> keys_;
  std::map<std::string, Json> units_;
  Json remoteConfig_;
  fs::path staticDir_;
  fs::path questDir_;
  std::atomic<int> port_{0};
  std::atomic<uint64_t> sequence_{0};

  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;

  mutable std::mutex mutex_;  // guards requests_, faults_ and log_
  std::vector<RecordedRequest> requests_;
  std::map<std::string, Fault> faults_;
  std::ofstream log_;

  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  bool stopping_ = false;
};

AdServer::AdServer(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}
AdServer::~AdServer() = default;
bool AdServer::start(std::string* error) {
  return impl_->start(error);
}
void AdServer::stop() {
  impl_->stop();
}
int AdServer::port() const {
  return impl_->port();
}
std::string AdServer::baseUrl() const {
  return impl_->baseUrl();
}
std::vector<RecordedRequest> AdServer::requests() const {
  return impl_->requests();
}
void AdServer::clearRequests() {
  impl_->clearRequests();
}
void AdServer::setFault(const std::string& path, Fault fault) {
  impl_->setFault(path, std::move(fault));
}
void AdServer::clearFaults() {
  impl_->clearFaults();
}

}  // namespace adserver
