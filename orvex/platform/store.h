#pragma once
// Key-value store: the standard defaults and named suites. Reads come from memory and see every
// write made in this process at once; persistence happens behind the interface.

#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "orvex/platform/export.h"
#include "orvex/platform/value.h"

namespace orvex {

// One suite (or the standard defaults). Safe to use from any thread.
class ORVEX_API KeyValueStore {
 public:
  virtual ~KeyValueStore() = default;
  virtual std::optional<Value> value(std::string_view key) const = 0;
  virtual void set(std::string_view key, Value value) = 0;
  virtual void remove(std::string_view key) = 0;
  virtual std::vector<std::string> keys() const = 0;

  // Typed reads: absent when missing or of another type.
  std::optional<std::string> string(std::string_view key) const {
    auto v = value(key);
    if (auto* s = v ? v->asString() : nullptr) return *s;
    return std::nullopt;
  }
  std::optional<bool> boolean(std::string_view key) const {
    auto v = value(key);
    if (auto* b = v ? v->asBool() : nullptr) return *b;
    return std::nullopt;
  }
  std::optional<ValueDict> dictionary(std::string_view key) const {
    auto v = value(key);
    if (auto* d = v ? v->asDict() : nullptr) return *d;
    return std::nullopt;
  }
  std::optional<Bytes> data(std::string_view key) const {
    auto v = value(key);
    if (auto* b = v ? v->asBytes() : nullptr) return *b;
    return std::nullopt;
  }
  // The platform's integer read: numbers truncate, booleans give 0/1, decimal text parses,
  // anything else (or nothing) gives 0.
  std::int64_t integer(std::string_view key) const {
    auto v = value(key);
    if (!v) return 0;
    if (auto* i = v->asInt()) return *i;
    if (auto* d = v->asReal())
      return (*d >= -9.2e18 && *d <= 9.2e18) ? static_cast<std::int64_t>(*d) : 0;
    if (auto* b = v->asBool()) return *b ? 1 : 0;
    if (auto* s = v->asString()) {
      std::string_view t = *s;
      if (!t.empty() && t.front() == '+') t.remove_prefix(1);
      std::int64_t out = 0;
      auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
      return (ec == std::errc() && end == t.data() + t.size()) ? out : 0;
    }
    return 0;
  }
};

class ORVEX_API KeyValueStoreProvider {
 public:
  virtual ~KeyValueStoreProvider() = default;
  virtual std::shared_ptr<KeyValueStore> standard() = 0;
  // A named suite; the same object for the same name. Created empty when new.
  virtual std::shared_ptr<KeyValueStore> suite(std::string_view name) = 0;
  // Deletes every key of the suite and its persisted file.
  virtual void removeSuite(std::string_view name) = 0;
  // Blocks until every write made so far is durable. Never called on the main thread's hot path:
  // the port calls it on going to the background and at exit.
  virtual void flush() = 0;
};

}  // namespace orvex
