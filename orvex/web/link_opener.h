#pragma once
// The one way every format opens a landing page, and the two ways formats find a controller to
// present from. Main thread only; the screen is the SDK platform's `ui` (nothing happens on a port
// without one).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "orvex/core/url.h"
#include "orvex/platform/view.h"
#include "orvex/server/ad_response.h"

namespace orvex {

// App-store product links open in the store sheet; other links in the in-app browser (when the
// SDK-wide switch is on or the ad asks for it, and only for http(s)) or the system's handler.
// `presenter` is held weakly while the store product loads.
void openLink(const std::shared_ptr<ViewController>& presenter, const Url& url,
              std::optional<BrowserTarget> browserTarget);

// The schemes the SDK ever hands to the system's handlers: web links, mail, telephone and text
// messages (store links are https links of the store's host). Anything else (file:, smb:,
// javascript:, data:, a custom application's scheme) is logged and dropped, never launched: a
// creative must not reach another application or the file system through the SDK. The ports
// refuse the same (defence in depth).
ORVEX_INTERNAL_API bool isSystemLinkScheme(std::string_view scheme);
// Hands `url` to the system's handler when it parses and its scheme is one of those; logs and
// drops it otherwise.
void openExternally(const std::string& url);

// The first controller on the view's responder chain (the view itself, then its ancestors).
std::shared_ptr<ViewController> nearestViewController(const View& view);
// nearestViewController, then parents upward to the last one.
std::shared_ptr<ViewController> outermostViewController(const View& view);
// The key window's root, descended through navigation stacks, selected tabs and presentations.
std::shared_ptr<ViewController> topMostViewController();
// The key window of the application's first scene, if any.
std::shared_ptr<Window> firstSceneKeyWindow();

// The product id of an app-store link on `appStoreHost`, when it carries one ("…/id123").
std::optional<std::string> appStoreProductId(const Url& url, const std::string& appStoreHost);

}  // namespace orvex
