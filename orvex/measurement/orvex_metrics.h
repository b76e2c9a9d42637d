#pragma once
// User properties and custom events for targeting. Properties persist in the "io.orvex.metrics"
// suite and go to the service in one request a second after the last change; events are sent at
// once, identical ones within two seconds only once. Everything but properties() runs on the
// "io.orvex.metrics" serial queue.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "orvex/platform/export.h"
#include "orvex/platform/value.h"

namespace orvex {

// Well-known property keys; they are ordinary keys, stored and sent like any other.
struct OrvexKey {
  static constexpr const char AGE[] = "AGE";
  static constexpr const char BIRTH[] = "BIRTH";
  static constexpr const char GENDER[] = "GDR";
};

struct OrvexValue {
  static constexpr const char UNKNOWN[] = "U";
  struct OrvexGender {
    static constexpr const char MALE[] = "M";
    static constexpr const char FEMALE[] = "F";
    static constexpr const char OTHER[] = "O";
  };
};

// The four kinds a property can hold. Anything else cannot be stored, so it does not convert:
// setProperty("k", 3) is an integer, setProperty("k", "x") a text.
using OrvexPropertyValue = std::variant<bool, std::int64_t, double, std::string>;
using OrvexProperties = std::map<std::string, OrvexPropertyValue, std::less<>>;

class ORVEX_API OrvexMetrics {
 public:
  OrvexMetrics() = delete;

  // The stored properties, read on the caller's thread; values of other kinds are skipped.
  static OrvexProperties properties();
  // Validates here, then stores the change and schedules the send on the metrics queue. An
  // absent value removes the property.
  static void setProperty(const std::string& key, std::optional<OrvexPropertyValue> value);
  // Parameters may be any JSON-encodable value; one invalid pair drops the whole event.
  static void logEvent(const std::string& name, std::optional<ValueDict> params = std::nullopt);
};

}  // namespace orvex
