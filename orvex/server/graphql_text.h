#pragma once
// Text values interpolated into GraphQL documents go through here, so that a quote or backslash
// in an id, locale or device text cannot end the string literal early.

#include <string>
#include <string_view>

namespace orvex {

// The body of a GraphQL string literal (without the surrounding quotes): backslash, double quote
// and control characters escaped, everything else (including non-ASCII UTF-8) unchanged.
std::string graphqlString(std::string_view text);

}  // namespace orvex
