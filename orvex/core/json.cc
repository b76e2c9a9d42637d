#include "orvex/core/json.h"

#include <nlohmann/json.hpp>

#include "orvex/core/crypto.h"

namespace orvex::json {
namespace {

using nlohmann::json;

// The library's SAX interface builds Values directly, so depth is checked before any recursion.
class Builder : public nlohmann::json_sax<json> {
 public:
  explicit Builder(int maxDepth) : maxDepth_(maxDepth) {}

  bool null() override { return add(Value()); }
  bool boolean(bool b) override { return add(Value(b)); }
  bool number_integer(number_integer_t i) override {
    return add(Value(static_cast<std::int64_t>(i)));
  }
  bool number_unsigned(number_unsigned_t u) override {
    if (u <= static_cast<number_unsigned_t>(INT64_MAX))
      return add(Value(static_cast<std::int64_t>(u)));
    return add(Value(static_cast<double>(u)));
  }
  bool number_float(number_float_t d, const string_t&) override { return add(Value(d)); }
  bool string(string_t& s) override { return add(Value(std::move(s))); }
  bool binary(binary_t&) override { return fail("binary values are not JSON"); }
  bool start_object(std::size_t) override { return open(Value(ValueDict{})); }
  bool key(string_t& k) override {
    keys_.back() = std::move(k);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(Value(ValueArray{})); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& e) override {
    error_ = e.what();
    (void)position;
    return false;
  }

  std::optional<Value> result() {
    return done_ ? std::optional<Value>(std::move(root_)) : std::nullopt;
  }
  const std::string& error() const { return error_; }

 private:
  bool fail(std::string why) {
    error_ = std::move(why);
    return false;
  }
  bool add(Value v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      done_ = true;
      return true;
    }
    Value& top = stack_.back();
    if (auto* a = top.asArray()) {
      a->push_back(std::move(v));
    } else {
      (*top.asDict())[keys_.back()] = std::move(v);
    }
    return true;
  }
  bool open(Value container) {
    if (static_cast<int>(stack_.size()) >= maxDepth_) return fail("nesting too deep");
    stack_.push_back(std::move(container));
    keys_.emplace_back();
    return true;
  }
  bool close() {
    Value v = std::move(stack_.back());
    stack_.pop_back();
    keys_.pop_back();
    return add(std::move(v));
  }

  int maxDepth_;
  std::vector<Value> stack_;
  std::vector<std::string> keys_;
  Value root_;
  bool done_ = false;
  std::string error_;
};

// Values built by hand could nest without limit; past a depth parse() never produces, write null
// rather than risk the stack.
json toJson(const Value& v, int depth) {
  if (depth > kMaxWriteDepth) return nullptr;
  switch (v.type()) {
    case Value::Type::null:
      return nullptr;
    case Value::Type::boolean:
      return *v.asBool();
    case Value::Type::integer:
      return *v.asInt();
    case Value::Type::real:
      return *v.asReal();
    case Value::Type::string:
      return *v.asString();
    case Value::Type::bytes:
      return base64Encode(*v.asBytes());
    case Value::Type::array: {
      json out = json::array();
      for (const auto& e : *v.asArray()) out.push_back(toJson(e, depth + 1));
      return out;
    }
    case Value::Type::dictionary: {
      json out = json::object();
      for (const auto& [k, e] : *v.asDict()) out[k] = toJson(e, depth + 1);
      return out;
    }
  }
  return nullptr;
}

}  // namespace

std::optional<Value> parse(std::string_view text, std::string* error, int maxDepth) {
  Builder builder(maxDepth);
  bool ok = false;
  try {
    ok = json::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json,
                         /*strict=*/true);
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
  auto result = ok ? builder.result() : std::nullopt;
  if (!result && error) *error = builder.error().empty() ? "invalid JSON" : builder.error();
  return result;
}

std::string write(const Value& value, WriteOptions options) {
  std::string text = toJson(value, 0).dump(-1, ' ', false, json::error_handler_t::replace);
  if (!options.escapeSlashes || text.find('/') == std::string::npos) return text;
  // A "/" can only stand inside a string in JSON text, so a plain replacement is exact.
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace orvex::json
