#include "ports/linux/file_store.h"

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "orvex/core/crypto.h"
#include "orvex/core/json.h"
#include "orvex/core/text.h"
#include "ports/linux/atomic_file.h"

namespace orvex::linux_port {
namespace {

namespace fs = std::filesystem;

// "ORVEXKV 1 <body length> <crc-32 of body, 8 hex digits>\n" then the body, a JSON array of
// [key, value] pairs in which every value carries a type tag, so that each type comes back as
// it went in (integers stay integers, doubles keep every bit, bytes stay bytes).
constexpr std::string_view kMagic = "ORVEXKV 1 ";
constexpr std::string_view kExtension = ".kv";
// The one nesting limit for stored values (a scalar is one level): set() refuses deeper values
// and loading drops them. Encoded, a level takes at most three JSON levels, which keeps every
// file far inside what the JSON writer writes in full.
constexpr int kMaxValueDepth = 128;
static_assert(3 * kMaxValueDepth + 2 <= json::kMaxWriteDepth);

// Whether `v` nests deeper than `limit` levels; never looks further down than that.
bool deeperThan(const Value& v, int limit) {
  if (limit <= 0) return true;
  if (auto* a = v.asArray()) {
    for (const auto& e : *a)
      if (deeperThan(e, limit - 1)) return true;
  } else if (auto* d = v.asDict()) {
    for (const auto& [k, e] : *d)
      if (deeperThan(e, limit - 1)) return true;
  }
  return false;
}

Value encodeText(const std::string& s) {
  if (isValidUtf8(s)) return Value(s);
  return Value(ValueArray{"S", base64Encode(s)});
}

Value encode(const Value& v) {
  switch (v.type()) {
    case Value::Type::null:
      return ValueArray{"n"};
    case Value::Type::boolean:
      return ValueArray{"b", *v.asBool()};
    case Value::Type::integer:
      return ValueArray{"i", *v.asInt()};
    case Value::Type::real: {
      std::uint64_t bits = 0;
      const double d = *v.asReal();
      std::memcpy(&bits, &d, sizeof bits);
      char hex[17];
      std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
      return ValueArray{"d", std::string(hex)};
    }
    case Value::Type::string: {
      const auto& s = *v.asString();
      if (isValidUtf8(s)) return ValueArray{"s", s};
      return ValueArray{"S", base64Encode(s)};
    }
    case Value::Type::bytes:
      return ValueArray{"x", base64Encode(*v.asBytes())};
    case Value::Type::array: {
      ValueArray items;
      for (const auto& e : *v.asArray()) items.push_back(encode(e));
      return ValueArray{"a", std::move(items)};
    }
    case Value::Type::dictionary: {
      ValueArray pairs;
      for (const auto& [k, e] : *v.asDict()) pairs.push_back(ValueArray{encodeText(k), encode(e)});
      return ValueArray{"o", std::move(pairs)};
    }
  }
  return ValueArray{"n"};
}

std::optional<std::string> decodeText(const Value& v) {
  if (auto* s = v.asString()) return *s;
  auto* a = v.asArray();
  if (!a || a->size() != 2 || (*a)[0] != Value("S") || !(*a)[1].asString()) return std::nullopt;
  auto raw = base64Decode(*(*a)[1].asString());
  if (!raw) return std::nullopt;
  return std::string(raw->begin(), raw->end());
}

// `level` is the nesting of `v` in the stored value (1 for the value itself); past the limit
// decoding stops and sets `tooDeep`.
std::optional<Value> decode(const Value& v, int level, bool& tooDeep) {
  if (level > kMaxValueDepth) {
    tooDeep = true;
    return std::nullopt;
  }
  auto* a = v.asArray();
  if (!a || a->empty() || !(*a)[0].asString()) return std::nullopt;
  const std::string& tag = *(*a)[0].asString();
  if (tag == "n" && a->size() == 1) return Value();
  if (a->size() != 2) return std::nullopt;
  const Value& p = (*a)[1];
  if (tag == "b" && p.asBool()) return Value(*p.asBool());
  if (tag == "i" && p.asInt()) return Value(*p.asInt());
  if (tag == "d" && p.asString() && p.asString()->size() == 16) {
    const std::string& hex = *p.asString();
    std::uint64_t bits = 0;
    auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), bits, 16);
    if (ec != std::errc() || end != hex.data() + hex.size()) return std::nullopt;
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return Value(d);
  }
  if (tag == "s" && p.asString()) return Value(*p.asString());
  if ((tag == "S" || tag == "x") && p.asString()) {
    auto raw = base64Decode(*p.asString());
    if (!raw) return std::nullopt;
    if (tag == "x") return Value(std::move(*raw));
    return Value(std::string(raw->begin(), raw->end()));
  }
  if (tag == "a" && p.asArray()) {
    ValueArray items;
    for (const auto& e : *p.asArray()) {
      auto d = decode(e, level + 1, tooDeep);
      if (!d) return std::nullopt;
      items.push_back(std::move(*d));
    }
    return Value(std::move(items));
  }
  if (tag == "o" && p.asArray()) {
    ValueDict dict;
    for (const auto& pair : *p.asArray()) {
      auto* kv = pair.asArray();
      if (!kv || kv->size() != 2) return std::nullopt;
      auto k = decodeText((*kv)[0]);
      auto d = decode((*kv)[1], level + 1, tooDeep);
      if (!k || !d) return std::nullopt;
      dict.insert_or_assign(std::move(*k), std::move(*d));
    }
    return Value(std::move(dict));
  }
  return std::nullopt;
}

std::string serialize(const ValueDict& entries) {
  ValueArray pairs;
  for (const auto& [k, v] : entries) pairs.push_back(ValueArray{encodeText(k), encode(v)});
  const std::string body = json::write(Value(std::move(pairs)));
  char header[64];
  std::snprintf(header, sizeof header, "%zu %08x\n", body.size(),
                static_cast<unsigned>(crc32(body)));
  return std::string(kMagic) + header + body;
}

// The entries, or why the text is not a store file. Keys whose values nest too deeply (files
// written before the limit) are left out and listed in `dropped`.
std::optional<ValueDict> deserialize(std::string_view text, std::string& why,
                                     std::vector<std::string>& dropped) {
  if (text.substr(0, kMagic.size()) != kMagic) {
    why = "unknown format";
    return std::nullopt;
  }
  text.remove_prefix(kMagic.size());
  const auto newline = text.find('\n');
  if (newline == std::string_view::npos) {
    why = "truncated header";
    return std::nullopt;
  }
  const std::string_view header = text.substr(0, newline);
  const std::string_view body = text.substr(newline + 1);
  std::size_t length = 0;
  std::uint32_t crc = 0;
  const auto space = header.find(' ');
  bool ok = space != std::string_view::npos;
  if (ok) {
    auto r1 = std::from_chars(header.data(), header.data() + space, length);
    auto r2 = std::from_chars(header.data() + space + 1, header.data() + header.size(), crc, 16);
    ok = r1.ec == std::errc() && r1.ptr == header.data() + space && r2.ec == std::errc() &&
         r2.ptr == header.data() + header.size();
  }
  if (!ok) {
    why = "bad header";
    return std::nullopt;
  }
  if (body.size() != length) {
    why = "length mismatch";
    return std::nullopt;
  }
  if (crc32(body) != crc) {
    why = "checksum mismatch";
    return std::nullopt;
  }
  std::string error;
  // Deep enough for anything the writer produces, so a too-deep entry costs only its key.
  auto parsed = json::parse(body, &error, json::kMaxWriteDepth + 1);
  if (!parsed || !parsed->asArray()) {
    why = "bad body: " + error;
    return std::nullopt;
  }
  ValueDict entries;
  for (const auto& pair : *parsed->asArray()) {
    auto* kv = pair.asArray();
    std::optional<std::string> key;
    std::optional<Value> value;
    bool tooDeep = false;
    if (kv && kv->size() == 2) {
      key = decodeText((*kv)[0]);
      value = decode((*kv)[1], 1, tooDeep);
    }
    if (key && tooDeep) {
      dropped.push_back(std::move(*key));
      continue;
    }
    if (!key || !value) {
      why = "bad entry";
      return std::nullopt;
    }
    entries.insert_or_assign(std::move(*key), std::move(*value));
  }
  return entries;
}

enum class ReadOutcome { ok, missing, failed };

ReadOutcome readWholeFile(const fs::path& path, std::string& out, std::string& why) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (!f) {
    if (errno == ENOENT) return ReadOutcome::missing;
    why = std::strerror(errno);
    return ReadOutcome::failed;
  }
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  const bool error = std::ferror(f) != 0;
  std::fclose(f);
  if (error) {
    why = "read error";
    return ReadOutcome::failed;
  }
  return ReadOutcome::ok;
}

}  // namespace

struct FileStoreCore {
  fs::path directory;
  std::string standardDomain;
  std::shared_ptr<SystemLog> log;
  std::chrono::milliseconds coalesceDelay;

  std::mutex mutex;  // guards what follows
  std::condition_variable wake;
  std::condition_variable written;
  std::map<std::string, std::shared_ptr<StoreSuite>, std::less<>> suites;
  std::set<StoreSuite*> dirty;
  std::uint64_t marked = 0;   // changes made
  std::uint64_t durable = 0;  // changes made durable (or given up on)
  bool urgent = false;
  bool stopping = false;
  bool writerGone = false;
  std::vector<std::pair<std::uint64_t, std::function<void()>>> callbacks;
  std::atomic<std::uint64_t> diskWrites{0};
  std::thread writer;

  void markDirty(StoreSuite* suite) {
    {
      std::lock_guard lock(mutex);
      dirty.insert(suite);
      ++marked;
    }
    wake.notify_one();
  }

  void writeSuite(StoreSuite& suite) {
    ValueDict snapshot;
    std::uint64_t generation;
    {
      std::lock_guard lock(suite.mutex_);
      if (!suite.persist_) return;
      generation = suite.generation_;
      if (generation == suite.writtenGeneration_) return;
      snapshot = suite.entries_;
    }
    std::optional<std::string> error;
    if (snapshot.empty()) {
      bool removed = false;
      error = removeFileDurably(suite.file_, &removed);
      if (removed) ++diskWrites;
    } else {
      error = replaceFileAtomically(suite.file_, serialize(snapshot), true);
      if (!error) ++diskWrites;
    }
    if (error) {
      log->write("Orvex::FileStore could not write " + suite.file_.string() + ": " + *error);
      return;
    }
    suite.writtenGeneration_ = generation;
  }

  void runWriter() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return stopping || urgent || !dirty.empty(); });
      if (!dirty.empty() && !urgent && !stopping && coalesceDelay.count() > 0) {
        wake.wait_for(lock, coalesceDelay, [&] { return stopping || urgent; });
      }
      auto batch = std::move(dirty);
      dirty.clear();
      const auto upTo = marked;
      urgent = false;
      lock.unlock();
      for (auto* suite : batch) writeSuite(*suite);
      lock.lock();
      durable = std::max(durable, upTo);
      std::vector<std::function<void()>> ready;
      for (auto it = callbacks.begin(); it != callbacks.end();) {
        if (it->first <= durable) {
          ready.push_back(std::move(it->second));
          it = callbacks.erase(it);
        } else {
          ++it;
        }
      }
      written.notify_all();
      if (!ready.empty()) {
        lock.unlock();
        for (auto& f : ready) f();
        lock.lock();
      }
      if (stopping && dirty.empty()) break;
    }
    writerGone = true;
    written.notify_all();
  }

  std::shared_ptr<StoreSuite> open(std::string_view name,
                                   const std::weak_ptr<FileStoreCore>& self) {
    std::lock_guard lock(mutex);
    auto it = suites.find(name);
    if (it != suites.end()) return it->second;
    auto file = directory / (FileStore::fileSafeName(name) + std::string(kExtension));
    auto suite = std::make_shared<StoreSuite>(std::string(name), file, log, self);
    suites.emplace(std::string(name), suite);
    return suite;
  }
};

// ---- StoreSuite --------------------------------------------------------------------------------

StoreSuite::StoreSuite(std::string name, fs::path file, std::shared_ptr<SystemLog> log,
                       std::weak_ptr<FileStoreCore> core)
    : name_(std::move(name)),
      file_(std::move(file)),
      log_(std::move(log)),
      core_(std::move(core)) {}

void StoreSuite::ensureLoaded() const {
  if (loaded_) return;
  loaded_ = true;
  std::string text, why;
  switch (readWholeFile(file_, text, why)) {
    case ReadOutcome::missing:
      return;
    case ReadOutcome::ok: {
      std::vector<std::string> dropped;
      if (auto entries = deserialize(text, why, dropped)) {
        entries_ = std::move(*entries);
        for (const auto& key : dropped) {
          log_->write("Orvex::FileStore value for key " + key + " in " + file_.string() +
                      " nested too deeply; left out");
        }
        return;
      }
      break;
    }
    case ReadOutcome::failed:
      break;
  }
  // Damaged or unreadable: keep it for inspection and start empty.
  const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  fs::path aside = file_.string() + ".corrupt-" + std::to_string(stamp);
  std::error_code ec;
  for (int n = 1; fs::exists(aside, ec); ++n) {
    aside = file_.string() + ".corrupt-" + std::to_string(stamp) + "-" + std::to_string(n);
  }
  fs::rename(file_, aside, ec);
  if (ec) {
    persist_ = false;
    log_->write("Orvex::FileStore unreadable store file " + file_.string() + " (" + why +
                ") could not be set aside (" + ec.message() + "); its suite stays in memory");
  } else {
    log_->write("Orvex::FileStore unreadable store file " + file_.string() + " (" + why +
                ") set aside as " + aside.string());
  }
}

std::optional<Value> StoreSuite::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  ensureLoaded();
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

void StoreSuite::set(std::string_view key, Value value) {
  update({{std::string(key), std::move(value)}});
}

void StoreSuite::remove(std::string_view key) {
  update({{std::string(key), std::nullopt}});
}

std::vector<std::string> StoreSuite::keys() const {
  std::lock_guard lock(mutex_);
  ensureLoaded();
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& [k, v] : entries_) out.push_back(k);
  return out;
}

void StoreSuite::update(std::vector<std::pair<std::string, std::optional<Value>>> changes) {
  for (const auto& [key, value] : changes) {
    if (value && deeperThan(*value, kMaxValueDepth)) {
      log_->write("Orvex::FileStore value for key " + key + " nested too deeply; not stored");
      return;
    }
  }
  bool changed = false;
  {
    std::lock_guard lock(mutex_);
    ensureLoaded();
    for (auto& [key, value] : changes) {
      auto it = entries_.find(key);
      if (!value) {
        if (it == entries_.end()) continue;
        entries_.erase(it);
      } else if (it == entries_.end()) {
        entries_.emplace(std::move(key), std::move(*value));
      } else if (it->second == *value) {
        continue;
      } else {
        it->second = std::move(*value);
      }
      changed = true;
    }
    if (changed) ++generation_;
  }
  if (!changed) return;
  if (auto core = core_.lock()) core->markDirty(this);
}

// ---- FileStore ---------------------------------------------------------------------------------

FileStore::FileStore(fs::path directory, std::string standardDomain, std::shared_ptr<SystemLog> log,
                     std::chrono::milliseconds coalesceDelay)
    : core_(std::make_shared<FileStoreCore>()) {
  core_->directory = std::move(directory);
  core_->standardDomain = std::move(standardDomain);
  core_->log = std::move(log);
  core_->coalesceDelay = coalesceDelay;
  std::error_code ec;
  fs::create_directories(core_->directory, ec);
  if (ec) {
    core_->log->write("Orvex::FileStore cannot create " + core_->directory.string() + ": " +
                      ec.message());
  }
  // Temporaries left by writers that died mid-write.
  const std::string tempMark = std::string(kExtension) + ".tmp-";
  for (fs::directory_iterator it(core_->directory, ec), end; !ec && it != end; it.increment(ec)) {
    const auto name = it->path().filename().string();
    const auto pos = name.find(tempMark);
    if (pos != std::string::npos) {
      removeStaleTemporaries(core_->directory / name.substr(0, pos + kExtension.size()));
    }
  }
  // The thread shares ownership: a store let go of on its own writer thread stays valid.
  core_->writer = std::thread([core = core_] { core->runWriter(); });
}

FileStore::~FileStore() {
  {
    std::lock_guard lock(core_->mutex);
    core_->stopping = true;
  }
  core_->wake.notify_all();
  if (core_->writer.get_id() == std::this_thread::get_id()) {
    core_->writer.detach();
  } else if (core_->writer.joinable()) {
    core_->writer.join();
  }
}

std::shared_ptr<StoreSuite> FileStore::standardSuite() {
  return core_->open(core_->standardDomain, core_);
}

std::shared_ptr<StoreSuite> FileStore::openSuite(std::string_view name) {
  return core_->open(name, core_);
}

void FileStore::removeSuite(std::string_view name) {
  auto suite = openSuite(name);
  {
    std::lock_guard lock(suite->mutex_);
    // The old file is deleted unread: its contents are going anyway.
    suite->loaded_ = true;
    suite->persist_ = true;
    suite->entries_.clear();
    ++suite->generation_;
  }
  core_->markDirty(suite.get());
}

void FileStore::flush() {
  std::unique_lock lock(core_->mutex);
  const auto ticket = core_->marked;
  if (core_->durable >= ticket || core_->writerGone) return;
  core_->urgent = true;
  core_->wake.notify_all();
  core_->written.wait(lock, [&] { return core_->durable >= ticket || core_->writerGone; });
}

void FileStore::flushAsync(std::function<void()> done) {
  {
    std::lock_guard lock(core_->mutex);
    const auto ticket = core_->marked;
    if (core_->durable < ticket && !core_->writerGone) {
      core_->callbacks.emplace_back(ticket, std::move(done));
      core_->urgent = true;
      done = nullptr;
    }
  }
  core_->wake.notify_all();
  if (done) done();
}

const fs::path& FileStore::directory() const {
  return core_->directory;
}

fs::path FileStore::fileFor(std::string_view suiteName) const {
  return core_->directory / (fileSafeName(suiteName) + std::string(kExtension));
}

std::uint64_t FileStore::diskWriteCount() const {
  return core_->diskWrites.load();
}

std::string FileStore::fileSafeName(std::string_view name) {
  if (name.empty()) return "%";
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || (c == '.' && i > 0);
    if (safe) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace orvex::linux_port
