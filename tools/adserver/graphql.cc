#include "tools/adserver/graphql.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <unordered_set>

namespace adserver::graphql {

Value::Value() = default;
Value::Value(const Value&) = default;
Value::Value(Value&&) noexcept = default;
Value& Value::operator=(const Value&) = default;
Value& Value::operator=(Value&&) noexcept = default;
Value::~Value() = default;

const Value* Value::find(std::string_view name) const {
  for (const auto& [key, value] : fields) {
    if (key == name) return &value;
  }
  return nullptr;
}

const Value* Field::argument(std::string_view argName) const {
  for (const auto& [key, value] : arguments) {
    if (key == argName) return &value;
  }
  return nullptr;
}

namespace {

struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class Tok { kEnd, kPunct, kName, kInt, kFloat, kString };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;  // punctuator, name, number as written, or decoded string
  size_t offset = 0;
};

bool isNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isNameChar(char c) {
  return isNameStart(c) || isDigit(c);
}

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Token next() {
    skipIgnored();
    Token tok;
    tok.offset = pos_;
    if (pos_ >= text_.size()) return tok;
    char c = text_[pos_];
    if (c == '.') {
      if (text_.substr(pos_, 3) != "...") fail("unexpected '.'");
      pos_ += 3;
      tok.kind = Tok::kPunct;
      tok.text = "...";
      return tok;
    }
    if (std::string_view("!$&():=@[]{}|").find(c) != std::string_view::npos) {
      ++pos_;
      tok.kind = Tok::kPunct;
      tok.text = std::string(1, c);
      return tok;
    }
    if (isNameStart(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
      tok.kind = Tok::kName;
      tok.text = std::string(text_.substr(start, pos_ - start));
      return tok;
    }
    if (c == '-' || isDigit(c)) return number();
    if (c == '"') return string();
    fail(std::string("unexpected character '") + c + "'");
  }

  [[noreturn]] void fail(const std::string& what) const {
    throw ParseError(what + " at offset " + std::to_string(pos_));
  }

 private:
  void skipIgnored() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',') {
        ++pos_;
      } else if (c == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\r') ++pos_;
      } else if (text_.substr(pos_, 3) == "\xEF\xBB\xBF") {
        pos_ += 3;
      } else {
        break;
      }
    }
  }

  Token number() {
    Token tok;
    tok.offset = pos_;
    size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (pos_ >= text_.size() || !isDigit(text_[pos_])) fail("malformed number");
    if (text_[pos_] == '0' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1])) {
      fail("leading zero in number");
    }
    while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
    bool isFloat = false;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      isFloat = true;
      ++pos_;
      if (pos_ >= text_.size() || !isDigit(text_[pos_])) fail("malformed number");
      while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      isFloat = true;
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (pos_ >= text_.size() || !isDigit(text_[pos_])) fail("malformed exponent");
      while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
    }
    // "1.5abc" or "12name" would otherwise read as two tokens.
    if (pos_ < text_.size() && (isNameStart(text_[pos_]) || text_[pos_] == '.')) {
      fail("malformed number");
    }
    tok.kind = isFloat ? Tok::kFloat : Tok::kInt;
    tok.text = std::string(text_.substr(start, pos_ - start));
    return tok;
  }

  uint32_t hex4() {
    if (pos_ + 4 > text_.size()) fail("short \\u escape");
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      char h = text_[pos_++];
      v <<= 4;
      if (isDigit(h)) {
        v |= static_cast<uint32_t>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        v |= static_cast<uint32_t>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        v |= static_cast<uint32_t>(h - 'A' + 10);
      } else {
        fail("bad \\u escape");
      }
    }
    return v;
  }

  Token string() {
    Token tok;
    tok.offset = pos_;
    tok.kind = Tok::kString;
    if (text_.substr(pos_, 3) == "\"\"\"") fail("block strings are not supported");
    ++pos_;
    std::string out;
    while (true) {
      if (pos_ >= text_.size()) fail("unterminated string");
      char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        break;
      }
      if (c == '\n' || c == '\r') fail("line break in string");
      if (c != '\\') {
        out += c;
        ++pos_;
        continue;
      }
      if (++pos_ >= text_.size()) fail("unterminated string");
      char e = text_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp = hex4();
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u") fail("lone surrogate");
            pos_ += 2;
            uint32_t low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("lone surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            fail("lone surrogate");
          }
          appendUtf8(out, cp);
          break;
        }
        default:
          --pos_;
          fail(std::string("unknown escape \\") + e);
      }
    }
    tok.text = std::move(out);
    return tok;
  }

  std::string_view text_;
  size_t pos_ = 0;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) { advance(); }

  Document document() {
    Document doc;
    if (isPunct("{")) {
      doc.operationType = "query";
    } else {
      if (cur_.kind != Tok::kName ||
          (cur_.text != "query" && cur_.text != "mutation" && cur_.text != "subscription")) {
        fail("expected an operation");
      }
      doc.operationType = cur_.text;
      advance();
      if (cur_.kind == Tok::kName) {
        doc.operationName = cur_.text;
        advance();
      }
      if (isPunct("(")) fail("variables are not supported");
      directives();
    }
    doc.selection = selectionSet(1);
    if (cur_.kind != Tok::kEnd) fail("only one operation per document is supported");
    return doc;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw ParseError(what + " at offset " + std::to_string(cur_.offset));
  }
  void advance() { cur_ = lexer_.next(); }
  bool isPunct(std::string_view p) const { return cur_.kind == Tok::kPunct && cur_.text == p; }
  void expect(std::string_view p) {
    if (!isPunct(p)) fail("expected '" + std::string(p) + "'");
    advance();
  }
  std::string name() {
    if (cur_.kind != Tok::kName) fail("expected a name");
    std::string n = cur_.text;
    advance();
    return n;
  }
  void checkDepth(int depth) const {
    if (depth > kMaxDepth) fail("nesting too deep");
  }

  // Directives are accepted and ignored: the service has no use for them.
  void directives() {
    while (isPunct("@")) {
      advance();
      name();
      if (isPunct("(")) arguments(1);
    }
  }

  std::vector<Field> selectionSet(int depth) {
    checkDepth(depth);
    expect("{");
    std::vector<Field> fields;
    while (!isPunct("}")) {
      if (cur_.kind == Tok::kEnd) fail("unterminated selection set");
      if (isPunct("...")) fail("fragments are not supported");
      fields.push_back(field(depth));
    }
    if (fields.empty()) fail("empty selection set");
    advance();
    return fields;
  }

  Field field(int depth) {
    Field f;
    f.name = name();
    if (isPunct(":")) {
      advance();
      f.alias = std::move(f.name);
      f.name = name();
    }
    if (isPunct("(")) f.arguments = arguments(depth);
    directives();
    if (isPunct("{")) f.selection = selectionSet(depth + 1);
    return f;
  }

  ObjectFields arguments(int depth) {
    expect("(");
    ObjectFields args;
    while (!isPunct(")")) {
      std::string n = name();
      expect(":");
      args.emplace_back(std::move(n), value(depth + 1));
    }
    if (args.empty()) fail("empty argument list");
    advance();
    return args;
  }

  Value value(int depth) {
    checkDepth(depth);
    Value v;
    switch (cur_.kind) {
      case Tok::kEnd:
        fail("expected a value");
      case Tok::kString:
        v.kind = Value::Kind::kString;
        v.text = cur_.text;
        advance();
        return v;
      case Tok::kInt: {
        v.kind = Value::Kind::kInt;
        v.text = cur_.text;
        errno = 0;
        v.intValue = std::strtoll(v.text.c_str(), nullptr, 10);
        if (errno == ERANGE) fail("integer out of range");
        advance();
        return v;
      }
      case Tok::kFloat:
        v.kind = Value::Kind::kFloat;
        v.text = cur_.text;
        v.floatValue = std::strtod(v.text.c_str(), nullptr);
        advance();
        return v;
      case Tok::kName:
        if (cur_.text == "true" || cur_.text == "false") {
          v.kind = Value::Kind::kBool;
          v.boolValue = cur_.text == "true";
        } else if (cur_.text == "null") {
          v.kind = Value::Kind::kNull;
        } else {
          v.kind = Value::Kind::kEnum;
        }
        v.text = cur_.text;
        advance();
        return v;
      case Tok::kPunct:
        break;
    }
    if (isPunct("[")) {
      advance();
      v.kind = Value::Kind::kList;
      while (!isPunct("]")) v.list.push_back(value(depth + 1));
      advance();
      return v;
    }
    if (isPunct("{")) {
      advance();
      v.kind = Value::Kind::kObject;
      // A set, not Value::find: a scan per field made large objects quadratic.
      std::unordered_set<std::string> seen;
      while (!isPunct("}")) {
        std::string n = name();
        if (!seen.insert(n).second) fail("duplicate field " + n);
        expect(":");
        v.fields.emplace_back(std::move(n), value(depth + 1));
      }
      advance();
      return v;
    }
    if (isPunct("$")) fail("variables are not supported");
    fail("expected a value");
  }

  Lexer lexer_;
  Token cur_;
};

}  // namespace

std::optional<Document> parse(std::string_view text, std::string* error) {
  try {
    return Parser(text).document();
  } catch (const ParseError& e) {
    if (error != nullptr) *error = e.what();
    return std::nullopt;
  }
}

}  // namespace adserver::graphql
