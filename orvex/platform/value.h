#pragma once
// A JSON-like value: what the key-value store holds, what scripts return and what creative
// pages post. Byte strings are a type of their own (the store keeps data values).

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace orvex {

class Value;
using ValueArray = std::vector<Value>;
using ValueDict = std::map<std::string, Value, std::less<>>;
using Bytes = std::vector<std::uint8_t>;

class Value {
 public:
  enum class Type { null, boolean, integer, real, string, bytes, array, dictionary };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v_(b) {}
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(std::int64_t i) : v_(i) {}
  Value(double d) : v_(d) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Bytes b) : v_(std::move(b)) {}
  Value(ValueArray a) : v_(std::move(a)) {}
  Value(ValueDict d) : v_(std::move(d)) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::null; }
  bool isNumber() const { return type() == Type::integer || type() == Type::real; }

  // Typed access: nullptr when the value holds another type.
  const bool* asBool() const { return std::get_if<bool>(&v_); }
  const std::int64_t* asInt() const { return std::get_if<std::int64_t>(&v_); }
  const double* asReal() const { return std::get_if<double>(&v_); }
  const std::string* asString() const { return std::get_if<std::string>(&v_); }
  const Bytes* asBytes() const { return std::get_if<Bytes>(&v_); }
  const ValueArray* asArray() const { return std::get_if<ValueArray>(&v_); }
  const ValueDict* asDict() const { return std::get_if<ValueDict>(&v_); }
  ValueArray* asArray() { return std::get_if<ValueArray>(&v_); }
  ValueDict* asDict() { return std::get_if<ValueDict>(&v_); }

  // A number as double (integers convert), absent for other types.
  std::optional<double> number() const {
    if (auto* i = asInt()) return static_cast<double>(*i);
    if (auto* d = asReal()) return *d;
    return std::nullopt;
  }
  // Member of a dictionary, nullptr when absent or not a dictionary.
  const Value* find(std::string_view key) const {
    auto* d = asDict();
    if (!d) return nullptr;
    auto it = d->find(key);
    return it == d->end() ? nullptr : &it->second;
  }

  friend bool operator==(const Value&, const Value&) = default;

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes, ValueArray,
               ValueDict>
      v_;
};

}  // namespace orvex
