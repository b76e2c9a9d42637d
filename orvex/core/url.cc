#include "orvex/core/url.h"

#include <cctype>

#include <curl/curl.h>

#include <climits>
#include <memory>

#include "orvex/core/text.h"

namespace orvex {
namespace {

struct CurlUrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlFree {
  void operator()(char* p) const { curl_free(p); }
};
using CurlText = std::unique_ptr<char, CurlFree>;

std::optional<std::string> part(CURLU* url, CURLUPart which) {
  char* raw = nullptr;
  if (curl_url_get(url, which, &raw, 0) != CURLUE_OK || raw == nullptr) return std::nullopt;
  CurlText owned(raw);
  return std::string(raw);
}

bool hasForbiddenCharacter(std::string_view text) {
  for (unsigned char c : text) {
    if (c <= 0x20 || c == 0x7f) return true;
  }
  return false;
}

std::vector<QueryItem> splitQuery(std::string_view query) {
  std::vector<QueryItem> items;
  if (query.empty()) return items;
  for (;;) {
    auto amp = query.find('&');
    std::string_view piece = query.substr(0, amp);
    auto eq = piece.find('=');
    if (eq == std::string_view::npos) {
      items.push_back({std::string(piece), std::nullopt});
    } else {
      items.push_back({std::string(piece.substr(0, eq)), std::string(piece.substr(eq + 1))});
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return items;
}

// Schemes a browser parses with the "special" rules: "\" is "/" and slashes after the colon
// are optional and repeatable.
bool isSpecialScheme(std::string_view lowerScheme) {
  return lowerScheme == "http" || lowerScheme == "https" || lowerScheme == "ws" ||
         lowerScheme == "wss" || lowerScheme == "ftp";
}

// The scheme before the first ':', when the text starts with a well-formed one.
std::optional<std::string_view> leadingScheme(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
  const std::string_view scheme = text.substr(0, colon);
  if (!std::isalpha(static_cast<unsigned char>(scheme[0]))) return std::nullopt;
  for (char c : scheme) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') {
      return std::nullopt;
    }
  }
  return scheme;
}

// A special URL as a browser reads it, for libcurl (which takes "\" for an ordinary character
// and so would read "https://evil.example\@orvex.example/" as a user name on orvex.example).
std::string browserForm(std::string_view lowerScheme, std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && (rest[i] == '/' || rest[i] == '\\')) ++i;
  std::string out(lowerScheme);
  out += "://";
  for (; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == '?' || c == '#') {
      out.append(rest.substr(i));
      break;
    }
    out += c == '\\' ? '/' : c;
  }
  return out;
}

bool isHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

// "mailto:a@b", "tel:+1555…": a scheme and no authority, which curl's parser refuses.
std::optional<Url> Url::parseOpaque(std::string text) {
  const auto scheme = leadingScheme(text);
  if (!scheme) return std::nullopt;
  std::string_view rest = std::string_view(text).substr(scheme->size() + 1);
  if (rest.empty() || rest.starts_with("/")) return std::nullopt;
  Url url;
  url.scheme_ = asciiLower(*scheme);
  url.normalized_ = url.scheme_ + ":" + std::string(rest);
  if (auto hash = rest.find('#'); hash != std::string_view::npos) {
    url.fragment_ = std::string(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  if (auto question = rest.find('?'); question != std::string_view::npos) {
    url.query_ = std::string(rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  url.path_ = std::string(rest);
  url.text_ = std::move(text);
  return url;
}

std::optional<Url> Url::parse(std::string_view text) {
  if (text.empty() || hasForbiddenCharacter(text)) return std::nullopt;
  std::unique_ptr<CURLU, CurlUrlDeleter> handle(curl_url());
  if (!handle) return std::nullopt;
  std::string owned(text);
  std::string forCurl = owned;
  if (auto scheme = leadingScheme(owned)) {
    const std::string lower = asciiLower(*scheme);
    if (isSpecialScheme(lower)) {
      forCurl = browserForm(lower, std::string_view(owned).substr(scheme->size() + 1));
    }
  }
  // Any scheme (deep links, app-store links), and no dot-segment folding: the parts must match
  // what the caller wrote.
  if (curl_url_set(handle.get(), CURLUPART_URL, forCurl.c_str(),
                   CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) != CURLUE_OK) {
    return parseOpaque(std::move(owned));
  }
  Url url;
  auto scheme = part(handle.get(), CURLUPART_SCHEME);
  if (!scheme || scheme->empty()) return std::nullopt;
  url.text_ = std::move(owned);
  url.scheme_ = asciiLower(*scheme);
  url.host_ = asciiLower(part(handle.get(), CURLUPART_HOST).value_or(""));
  if (!url.host_.empty() &&
      curl_url_set(handle.get(), CURLUPART_HOST, url.host_.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  url.normalized_ = part(handle.get(), CURLUPART_URL).value_or(url.text_);
  if (auto port = part(handle.get(), CURLUPART_PORT)) {
    // curl has already checked it is a number in 0..65535.
    url.port_ = static_cast<int>(parseInt64OrZero(*port));
  }
  url.path_ = part(handle.get(), CURLUPART_PATH).value_or("");
  url.query_ = part(handle.get(), CURLUPART_QUERY);
  url.fragment_ = part(handle.get(), CURLUPART_FRAGMENT);
  return url;
}

std::string engineReadURL(std::string_view text) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (char c : text) {
    if (c != '\t' && c != '\n' && c != '\r') cleaned += c;
  }
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!cleaned.empty() && blank(cleaned.back())) cleaned.pop_back();
  std::size_t start = 0;
  while (start < cleaned.size() && blank(cleaned[start])) ++start;
  cleaned.erase(0, start);
  if (auto url = Url::parse(cleaned)) return url->normalized();
  return cleaned;
}

std::optional<std::vector<QueryItem>> Url::queryItemsOf(std::string_view text) {
  text = text.substr(0, text.find('#'));
  auto question = text.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  return splitQuery(text.substr(question + 1));
}

std::vector<QueryItem> Url::queryItems() const {
  if (!query_) return {};
  return splitQuery(*query_);
}

std::optional<std::string> percentDecode(std::string_view text) {
  // curl reads a length of 0 as "up to the NUL", past the end of a view.
  if (text.empty()) return std::string();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
    i += 2;
  }
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  int length = 0;
  CurlText decoded(
      curl_easy_unescape(nullptr, text.data(), static_cast<int>(text.size()), &length));
  if (!decoded) return std::nullopt;
  std::string result(decoded.get(), static_cast<std::size_t>(length));
  if (!isValidUtf8(result)) return std::nullopt;
  return result;
}

std::string percentEncodeQueryValue(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::string();
  CurlText encoded(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
  return encoded ? std::string(encoded.get()) : std::string();
}

}  // namespace orvex
