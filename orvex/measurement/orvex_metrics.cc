#include "orvex/measurement/orvex_metrics.h"

#include <cmath>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "orvex/core/crypto.h"
#include "orvex/core/json.h"
#include "orvex/core/orvex.h"
#include "orvex/core/seams.h"
#include "orvex/core/simple_logger.h"
#include "orvex/core/text.h"
#include "orvex/server/orvex_api.h"

namespace orvex {
namespace {

constexpr const char* kSuite = "io.orvex.metrics";
constexpr const char* kCustomProperty = "CUSTOM_PROPERTY";
constexpr const char* kRequestAt = "CUSTOM_PROPERTY_REQUEST_AT";
constexpr std::size_t kMaxKeyLength = 64;
constexpr std::size_t kMaxValueLength = 256;
constexpr std::size_t kMaxProperties = 256;
constexpr double kMaxSafeInteger = 9007199254740991.0;
constexpr double kSendDelaySeconds = 1.0;
constexpr std::int64_t kDuplicateWindowMs = 2000;

std::string describe(const Value& value) {
  if (auto* b = value.asBool()) return *b ? "true" : "false";
  if (auto* i = value.asInt()) return std::to_string(*i);
  if (auto* d = value.asReal()) return formatDouble(*d);
  if (auto* s = value.asString()) return *s;
  return json::write(value);
}

Value toValue(const OrvexPropertyValue& value) {
  return std::visit([](const auto& v) { return Value(v); }, value);
}

bool isPropertyKind(const Value& value) {
  switch (value.type()) {
    case Value::Type::boolean:
    case Value::Type::integer:
    case Value::Type::real:
    case Value::Type::string:
      return true;
    default:
      return false;
  }
}

// Shared by properties and event parameters; an absent value always passes.
bool validate(SimpleLogger& logger, const std::string& key, const Value* value) {
  std::size_t keyLength = utf8Length(key);
  if (keyLength > kMaxKeyLength) {
    logger.log("key length(" + std::to_string(keyLength) + ") exceeds max length(" +
               std::to_string(kMaxKeyLength) + "), key: " + key);
    return false;
  }
  if (!value) return true;
  if (auto* text = value->asString()) {
    std::size_t length = utf8Length(*text);
    if (length <= kMaxValueLength) return true;
    logger.log("value length(" + std::to_string(length) + ") exceeds max length(" +
               std::to_string(kMaxValueLength) + "), value: " + *text);
    return false;
  }
  std::optional<double> number = value->number();
  if (auto* b = value->asBool()) number = *b ? 1.0 : 0.0;
  if (!number) return true;
  if (*number >= kMaxSafeInteger) {
    logger.log("value(" + describe(*value) + ") exceeds max safe integer" +
               formatDouble(kMaxSafeInteger));
    return false;
  }
  // JSON has no NaN or -infinity; stored, one would make every later property send fail.
  if (!std::isfinite(*number)) {
    logger.log("value(" + describe(*value) + ") is not a finite number");
    return false;
  }
  return true;
}

// The process-wide metrics state: created on first use, bound to the shared instance's platform.
class MetricsState : public std::enable_shared_from_this<MetricsState> {
 public:
  explicit MetricsState(const OrvexPlatform& platform)
      : platform_(platform),
        queue_(platform.dispatcher->makeSerialQueue(kSuite, QueuePriority::background)),
        store_(platform.store->suite(kSuite)) {}

  // Rebuilt when the shared instance was replaced (tests do that per launch). The state keeps
  // its dispatcher alive, so a new platform's dispatcher can never have the same address.
  static std::shared_ptr<MetricsState> get() {
    const OrvexPlatform& platform = Orvex::shared().platform();
    std::lock_guard lock(slotMutex());
    auto& state = slot();
    if (!state || state->platform_.dispatcher != platform.dispatcher)
      state = std::make_shared<MetricsState>(platform);
    return state;
  }

  SimpleLogger& logger() { return logger_; }
  KeyValueStore& store() { return *store_; }
  // Queued work holds the state weakly: the state owns (through its platform) the queue that
  // holds the work, and a strong capture would keep both alive forever.
  void post(std::function<void(MetricsState*)> task) {
    queue_->post([weak = weak_from_this(), task = std::move(task)] {
      if (auto state = weak.lock()) task(state.get());
    });
  }

  // Stored properties of the four kinds; others are reported and left out.
  ValueDict readProperties() {
    ValueDict out;
    auto stored = store_->dictionary(kCustomProperty);
    if (!stored) return out;
    for (auto& [key, value] : *stored) {
      if (isPropertyKind(value)) {
        out.emplace(key, std::move(value));
      } else {
        logger_.log("Unsupported type for key " + key + ": " + describe(value));
      }
    }
    return out;
  }

  // ---- metrics queue only ----

  void storeProperty(const std::string& key, const std::optional<Value>& value) {
    ValueDict properties = readProperties();
    auto current = properties.find(key);
    bool hadValue = current != properties.end();
    if (hadValue == value.has_value() &&
        (!hadValue || json::write(current->second) == json::write(*value)))
      return;
    if (value) {
      properties.insert_or_assign(key, *value);
    } else {
      properties.erase(current);
    }
    if (properties.size() > kMaxProperties) {
      logger_.log("properties length(" + std::to_string(properties.size()) +
                  ") exceeds max length(" + std::to_string(kMaxProperties));
      return;
    }
    // One overwriting write: removing first would lose every property to a crash in between.
    store_->set(kCustomProperty, Value(std::move(properties)));
    store_->set(kRequestAt, Value(nowMillis()));
    scheduleFlush();
  }

  void scheduleFlush() {
    // Superseding the generation cancels the flush already scheduled: it checks on this queue.
    std::uint64_t generation = ++flushGeneration_;
    std::weak_ptr<MetricsState> weak = self();
    platform_.dispatcher->globalQueue(QueuePriority::userInitiated)
        ->postAfter(secondsToDuration(kSendDelaySeconds), [weak, generation] {
          auto state = weak.lock();
          if (!state) return;
          state->post([generation](MetricsState* state) {
            if (generation == state->flushGeneration_) state->flush();
          });
        });
  }

  void flush() {
    std::int64_t mark = store_->integer(kRequestAt);
    std::string text = json::write(Value(readProperties()));
    Orvex& orvex = Orvex::shared();
    if (!orvex.initialized() || !orvex.isTargetDevice()) return;
    std::weak_ptr<MetricsState> weak = self();
    orvex.api().invoke("SET_PROPERTY", text, [weak, mark](auto response, auto error) {
      if (error || !response || response->message != "ok") return;
      auto state = weak.lock();
      if (!state) return;
      // On this queue, so a change racing the answer cannot be wiped between read and remove.
      state->post([mark](MetricsState* state) {
        if (mark != 0 && state->store_->integer(kRequestAt) == mark)
          state->store_->remove(kRequestAt);
      });
    });
  }

  void sendEvent(const std::string& name, const ValueDict& params) {
    for (const auto& [key, value] : params)
      if (!validate(logger_, key, &value)) return;
    std::string text = json::write(Value(params));
    std::uint32_t checksum = crc32(name + text);
    std::int64_t now = nowMillis();
    std::erase_if(recentEvents_,
                  [now](const auto& entry) { return now - entry.second > kDuplicateWindowMs; });
    auto seen = recentEvents_.find(checksum);
    if (now - (seen == recentEvents_.end() ? 0 : seen->second) <= kDuplicateWindowMs) return;
    Orvex& orvex = Orvex::shared();
    // Nothing sent must not suppress the same event once sending is possible.
    if (!orvex.initialized() || !orvex.isTargetDevice()) return;
    recentEvents_[checksum] = now;
    std::weak_ptr<MetricsState> weak = self();
    // The entry stays for the whole window rather than going when the send completes: a send
    // that fails fast (no connection) would otherwise let the identical event fired a moment
    // later go out again. The window alone decides what is a duplicate; only a send that never
    // started gives its entry back.
    orvex.api().invoke(
        name, text, [](auto, auto) {},
        [weak, checksum, now] {
          if (auto state = weak.lock()) {
            state->post([checksum, now](MetricsState* state) {
              auto entry = state->recentEvents_.find(checksum);
              if (entry != state->recentEvents_.end() && entry->second == now)
                state->recentEvents_.erase(entry);
            });
          }
        });
  }

 private:
  static std::mutex& slotMutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::shared_ptr<MetricsState>& slot() {
    static std::shared_ptr<MetricsState> slot;
    return slot;
  }
  std::weak_ptr<MetricsState> self() { return weak_from_this(); }
  std::int64_t nowMillis() const { return unixMillis(platform_.clock->now()); }

  const OrvexPlatform platform_;
  const std::shared_ptr<TaskQueue> queue_;
  const std::shared_ptr<KeyValueStore> store_;
  SimpleLogger logger_{"OrvexMetrics"};
  // Touched on the metrics queue only.
  std::uint64_t flushGeneration_ = 0;
  // Checksum of name + parameters -> when it was last sent; entries expire after the 2000 ms
  // window rather than when their send completes (see sendEvent).
  std::unordered_map<std::uint32_t, std::int64_t> recentEvents_;
};

}  // namespace

OrvexProperties OrvexMetrics::properties() {
  OrvexProperties out;
  for (auto& [key, value] : MetricsState::get()->readProperties()) {
    if (auto* b = value.asBool()) {
      out.emplace(key, *b);
    } else if (auto* i = value.asInt()) {
      out.emplace(key, *i);
    } else if (auto* d = value.asReal()) {
      out.emplace(key, *d);
    } else if (auto* s = value.asString()) {
      out.emplace(key, *s);
    }
  }
  return out;
}

void OrvexMetrics::setProperty(const std::string& key, std::optional<OrvexPropertyValue> value) {
  auto state = MetricsState::get();
  std::optional<Value> stored;
  if (value) stored = toValue(*value);
  if (!validate(state->logger(), key, stored ? &*stored : nullptr)) return;
  state->post([key, stored = std::move(stored)](MetricsState* state) {
    state->storeProperty(key, stored);
  });
}

void OrvexMetrics::logEvent(const std::string& name, std::optional<ValueDict> params) {
  auto state = MetricsState::get();
  state->post([name, params = std::move(params).value_or(ValueDict{})](MetricsState* state) {
    state->sendEvent(name, params);
  });
}

namespace seams {

void sendPendingCustomProperties() {
  auto state = MetricsState::get();
  state->post([](MetricsState* state) { state->scheduleFlush(); });
}

void resetCustomProperties() {
  auto state = MetricsState::get();
  // Visible at once to properties(); the queued repeat wipes changes queued before the reset,
  // which would otherwise write the old properties back.
  state->store().set(kCustomProperty, Value(ValueDict{}));
  state->post([](MetricsState* state) { state->store().set(kCustomProperty, Value(ValueDict{})); });
}

}  // namespace seams
}  // namespace orvex
