#include "examples/demo/fullscreen_user.h"

#include <cctype>
#include <optional>

#include "orvex/core/json.h"

namespace demo {
namespace {

using namespace orvex;

// The first link of a page's HTML, as its tap handler would report it.
std::optional<std::string> firstLink(const std::string& html) {
  for (const char* attribute : {"href=\"", "href='"}) {
    const auto at = html.find(attribute);
    if (at == std::string::npos) continue;
    const auto start = at + 6;
    const auto end = html.find(attribute[5], start);
    if (end != std::string::npos) return html.substr(start, end - start);
  }
  return std::nullopt;
}

// Clicked from inside the page, a click carries the user's gesture, as a tap would.
constexpr const char* kTapFirstControl = R"JS((function () {
  var e = document.querySelector('a[href]') ||
          document.querySelector('button, [onclick], [role=button]');
  if (!e) return null;
  e.click();
  return (e.tagName.toLowerCase() + (e.id ? '#' + e.id : '') + ' "' +
          (e.textContent || '').trim() + '"');
})())JS";

constexpr const char* kTapClose = R"JS((function () {
  var all = document.querySelectorAll('a, button, [onclick], [role=button]');
  for (var i = 0; i < all.length; i++) {
    var e = all[i];
    var label = [e.id, e.getAttribute('class'), e.getAttribute('aria-label'), e.textContent]
                    .join(' ');
    if (/close|skip|dismiss|\u00d7|\u2715|\u2716/i.test(label)) {
      e.click();
      return e.tagName.toLowerCase() + (e.id ? '#' + e.id : '');
    }
  }
  return null;
})())JS";

std::string describe(const std::optional<Value>& result) {
  const std::string* text = result ? result->asString() : nullptr;
  return text ? *text : "nothing: the page has no such control";
}

}  // namespace

bool FullScreenHeard::has(const std::string& event) const {
  for (const auto& e : events)
    if (e == event) return true;
  return false;
}

std::string FullScreenHeard::joined() const {
  std::string out;
  for (const auto& e : events) out += (out.empty() ? "" : ", ") + e;
  return out;
}

std::string awaitReceived(Screen& screen, const FullScreenHeard& heard, const std::string& unitId) {
  screen.runUntil([&] { return heard.has("received") || heard.has("failed"); }, 35);
  if (heard.has("failed")) {
    return heard.error == OrvexErrorCode::adNoFill
               ? "no fill for unit " + unitId
               : "load failed: " + OrvexErrorCodeToString(heard.error);
  }
  return heard.has("received") ? "" : "no answer to the request for unit " + unitId;
}

void PageHand::tapFirstControl(WebView& page, const std::string& fallbackUrl) {
  if (screen_.pagesRunThemselves()) {
    page.evaluateJavaScript(kTapFirstControl,
                            [&timeline = timeline_](std::optional<Value> r, auto) {
                              timeline.say("page: tapped " + describe(r));
                            });
    return;
  }
  const std::string url = firstLink(screen_.loadedHTML(page).value_or("")).value_or(fallbackUrl);
  timeline_.say("page (played by the demo): the link's tap handler posts \"open\" " + url);
  screen_.postFromPage(page, "orvex",
                       json::write(Value(ValueDict{{"action", "open"}, {"url", url}})));
}

void PageHand::tapClose(WebView& page) {
  if (screen_.pagesRunThemselves()) {
    page.evaluateJavaScript(kTapClose, [&timeline = timeline_](std::optional<Value> r, auto) {
      timeline.say("page: tapped " + describe(r));
    });
    return;
  }
  std::string html = screen_.loadedHTML(page).value_or("");
  for (auto& c : html) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (html.find("close") == std::string::npos && html.find("&times;") == std::string::npos &&
      html.find("\u00d7") == std::string::npos) {
    timeline_.say("page (played by the demo): it has no close button");
    return;
  }
  timeline_.say("page (played by the demo): the close button posts \"close\"");
  screen_.postFromPage(page, "orvex", R"({"action":"close"})");
}

std::string closeScreen(Screen& screen, const Timeline& timeline, WebView& page,
                        const FullScreenHeard& heard, const std::function<void()>& close) {
  timeline.say("user taps the page's close button");
  PageHand(screen, timeline).tapClose(page);
  auto dismissed = [&] { return heard.has("didDismiss"); };
  if (!screen.runUntil(dismissed, 3)) {
    timeline.say("the page did not close within 3 s: the host closes the screen");
    close();
    if (!screen.runUntil(dismissed, 5)) return "the screen did not close";
  }
  return "";
}

std::string checkOrder(const FullScreenHeard& heard, const std::vector<std::string>& expected) {
  if (heard.events == expected) return "";
  return "callbacks out of order: " + heard.joined();
}

}  // namespace demo
