#pragma once
// The check every port makes before it hands a URL to the system's handlers. The link opener
// made it already; the port refuses too, whoever calls it.

#include <string_view>

#include "orvex/core/url.h"
#include "orvex/web/link_opener.h"

namespace orvex::linux_port {

// http(s), mailto, tel and sms URLs only (the link opener's list).
inline bool maySystemOpen(std::string_view url) {
  const auto parsed = Url::parse(url);
  return parsed && isSystemLinkScheme(parsed->scheme());
}

}  // namespace orvex::linux_port
