#pragma once
// The SDK's one URL type. Absolute URLs are parsed by libcurl's URL API; the text is kept exactly
// as the caller gave it, and the parts are the raw (still percent-encoded) texts.
//
// The SDK decides by hosts (quest pages, deep links, store links), so a URL's parts are those a
// browser reads: for http(s), ws(s) and ftp a "\" before the query is a "/" and any run of
// slashes after the scheme introduces the host ("https://evil.example\@orvex.example/" is host
// evil.example, not a user name on orvex.example), and hosts are in lower case. Text a browser
// would clean first (tabs, newlines, spaces) does not parse at all.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orvex/platform/export.h"

namespace orvex {

struct QueryItem {
  std::string name;
  std::optional<std::string> value;  // absent when the item has no "="

  bool operator==(const QueryItem&) const = default;
};

class ORVEX_INTERNAL_API Url {
 public:
  // Absolute URLs only ("scheme://..."). Empty text, spaces, control characters or a missing
  // scheme do not parse.
  static std::optional<Url> parse(std::string_view text);

  // The query items of any text holding a "?" (up to a "#"), absolute or not; absent without "?".
  // Meant for deep links, whose form the host's scheme decides.
  static std::optional<std::vector<QueryItem>> queryItemsOf(std::string_view text);

  const std::string& text() const { return text_; }
  // The URL as an engine serializes it: "\" read as "/", scheme and host in lower case.
  const std::string& normalized() const { return normalized_; }
  // Lower case, as schemes compare case-insensitively.
  const std::string& scheme() const { return scheme_; }
  // Empty when the URL has no host (file:///...). Lower case; percent-escapes decoded.
  const std::string& host() const { return host_; }
  std::optional<int> port() const { return port_; }
  // "/" when the text has none after the host.
  const std::string& path() const { return path_; }
  const std::optional<std::string>& query() const { return query_; }
  // Absent also for an empty fragment ("...#").
  const std::optional<std::string>& fragment() const { return fragment_; }
  // The query split on "&" and each piece on its first "="; names and values stay encoded.
  std::vector<QueryItem> queryItems() const;

  bool operator==(const Url& other) const { return text_ == other.text_; }

 private:
  Url() = default;
  static std::optional<Url> parseOpaque(std::string text);

  std::string text_;
  std::string normalized_;
  std::string scheme_;
  std::string host_;
  std::optional<int> port_;
  std::string path_;
  std::optional<std::string> query_;
  std::optional<std::string> fragment_;
};

// What an engine makes of a link's text: ASCII tabs and newlines dropped, leading and trailing
// blanks and control characters trimmed, then the normalized URL; the cleaned text as it is when
// that does not parse. Ports hand the SDK URLs in this form, as engines do.
ORVEX_INTERNAL_API std::string engineReadURL(std::string_view text);

// Absent when a "%" is not followed by two hex digits or the result is not valid UTF-8.
// "+" stays "+" (this is not form decoding).
std::optional<std::string> percentDecode(std::string_view text);

// Encodes everything but the unreserved characters (A-Z a-z 0-9 - . _ ~), so the result is safe
// as a query value or name.
std::string percentEncodeQueryValue(std::string_view text);

}  // namespace orvex
