#pragma once
// JSON text <-> Value. The only place the JSON library is seen; its types stay in json.cc.

#include <optional>
#include <string>
#include <string_view>

#include "orvex/platform/export.h"
#include "orvex/platform/value.h"

namespace orvex::json {

// Integers that fit in 64 bits become integer values, other numbers reals. Input nested deeper
// than `maxDepth`, invalid UTF-8 and trailing garbage fail; `error` then says why.
ORVEX_INTERNAL_API std::optional<Value> parse(std::string_view text, std::string* error = nullptr,
                                              int maxDepth = 256);

// write() nests at most this many levels below the top value; anything deeper is written as
// null, so values meant to be read back must stay shallower.
inline constexpr int kMaxWriteDepth = 512;

struct WriteOptions {
  // Writes "/" as "\/", as the phone platform's serializer does.
  bool escapeSlashes = false;
};

// Compact text. Bytes values are written as base64 strings; invalid UTF-8 in strings is replaced
// by U+FFFD rather than failing.
ORVEX_INTERNAL_API std::string write(const Value& value, WriteOptions options = {});

}  // namespace orvex::json
