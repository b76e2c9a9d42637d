// A small GraphQL document reader: enough of the language for the operations the SDK sends
// (one operation, argument values of every literal kind, nested selection sets).
#ifndef ORVEX_TOOLS_ADSERVER_GRAPHQL_H_
#define ORVEX_TOOLS_ADSERVER_GRAPHQL_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace adserver::graphql {

struct Value;
using ObjectFields = std::vector<std::pair<std::string, Value>>;

struct Value {
  enum class Kind { kNull, kString, kInt, kFloat, kBool, kEnum, kList, kObject };
  // Defined where ObjectFields' pairs are complete (clang needs them so for the pair's traits).
  Value();
  Value(const Value&);
  Value(Value&&) noexcept;
  Value& operator=(const Value&);
  Value& operator=(Value&&) noexcept;
  ~Value();

  Kind kind = Kind::kNull;
  std::string text;  // decoded string, enum name, or the number as written
  int64_t intValue = 0;
  double floatValue = 0;
  bool boolValue = false;
  std::vector<Value> list;
  ObjectFields fields;

  // The member of an object value, or nullptr.
  const Value* find(std::string_view name) const;
};

struct Field {
  std::string alias;  // empty when none was given
  std::string name;
  ObjectFields arguments;
  std::vector<Field> selection;

  const Value* argument(std::string_view argName) const;
  const std::string& responseKey() const { return alias.empty() ? name : alias; }
};

struct Document {
  std::string operationType;  // "query", "mutation" or "subscription"
  std::string operationName;  // empty for anonymous operations
  std::vector<Field> selection;
};

// Nesting of selection sets and values deeper than this is refused rather than recursed into.
inline constexpr int kMaxDepth = 64;

// Reads one operation. On failure returns nothing and describes the first problem in *error.
std::optional<Document> parse(std::string_view text, std::string* error = nullptr);

}  // namespace adserver::graphql

#endif  // ORVEX_TOOLS_ADSERVER_GRAPHQL_H_
