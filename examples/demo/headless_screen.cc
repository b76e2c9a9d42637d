#include "examples/demo/headless_screen.h"

#include "orvex/core/json.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_view.h"
#include "ports/headless/headless_web_view.h"
#include "ports/linux/recorded_haptics.h"

namespace demo {
namespace {

using namespace orvex;

constexpr double kCardHeight = 120;
constexpr double kGap = 10;

class HeadlessScreen : public Screen {
 public:
  explicit HeadlessScreen(headless::HeadlessPort& port)
      : port_(port), window_(port.ui->makeKeyWindowWithRootController()) {}

  std::string name() const override { return "headless"; }
  UserInterface& ui() override { return *port_.ui; }
  std::shared_ptr<Window> window() override { return window_; }

  std::shared_ptr<View> makeFeed(int cards, double slotHeight) override {
    auto root = window_->rootViewController()->view();
    feed_ = port_.ui->makeView();
    root->addSubview(feed_);
    feed_->setFrame(root->bounds());
    const double width = root->bounds().size.width;
    double y = 60;
    for (int i = 0; i < cards; ++i, y += kCardHeight + kGap) {
      auto card = port_.ui->makeLabel();
      card->setText("Story " + std::to_string(i + 1));
      feed_->addSubview(card);
      card->setFrame(Rect(16, y, width - 32, kCardHeight));
    }
    auto slot = port_.ui->makeView();
    feed_->addSubview(slot);
    slot->setFrame(Rect(0, y, width, slotHeight));
    return slot;
  }

  double scrollIntoView(View& view) override {
    if (!feed_) return 0;
    const Rect inFeed = view.convertRect(view.bounds(), *feed_);
    const double offset = feed_->bounds().origin.y + inFeed.minY() - 400;
    feed_->setBoundsOrigin(Point{0, offset});
    return offset;
  }

  void tap(View& view) override {
    const Rect r = view.convertRect(view.bounds(), *window_);
    headless::headlessView(*window_).tap(
        Point{r.minX() + r.size.width / 2, r.minY() + r.size.height / 2});
  }

  bool swipe(View& view, double dx) override {
    const Rect r = view.convertRect(view.bounds(), *window_);
    const Point from{r.minX() + r.size.width / 2 - dx / 2, r.minY() + r.size.height / 2};
    return headless::headlessView(*window_).drag(from, Point{from.x + dx, from.y});
  }

  std::shared_ptr<WebView> lastWebView() override { return port_.webViews->last(); }

  void clickLink(WebView& page, const std::string& url) override {
    if (auto* scripted = dynamic_cast<headless::HeadlessWebView*>(&page))
      scripted->activateLink(url);
  }

  void postFromPage(WebView& page, const std::string& handler, const std::string& json) override {
    if (auto* scripted = dynamic_cast<headless::HeadlessWebView*>(&page))
      scripted->postMessageJSON(handler, json);
  }

  void askFromPage(WebView& page, const std::string& handler, const std::string& json,
                   std::function<void(std::optional<std::string>)> answer) override {
    auto* scripted = dynamic_cast<headless::HeadlessWebView*>(&page);
    if (!scripted) return;
    scripted->postMessageJSON(handler, json,
                              [answer](const headless::HeadlessWebView::ScriptReply& reply) {
                                if (!answer) return;
                                if (reply.result) return answer(orvex::json::write(*reply.result));
                                answer(std::nullopt);
                              });
  }

  std::optional<std::string> loadedHTML(WebView& page) override {
    auto* scripted = dynamic_cast<headless::HeadlessWebView*>(&page);
    return scripted ? scripted->loadedHTML() : std::nullopt;
  }
  std::vector<std::string> scriptsRun(WebView& page) override {
    auto* scripted = dynamic_cast<headless::HeadlessWebView*>(&page);
    return scripted ? scripted->evaluatedScripts() : std::vector<std::string>{};
  }

  void observeHaptics(std::function<void(const std::string&)> observer) override {
    if (port_.haptics) port_.haptics->setObserver(std::move(observer));
  }

  void observeOpenedLinks(
      std::function<void(const std::string&, const std::string&)> observer) override {
    port_.ui->setOpenObserver([observer](const linux_port::OpenedLink& link) {
      observer(linux_port::describe(link.kind), link.target);
    });
  }

  bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override {
    return port_.runUntil(done, timeoutSeconds);
  }
  void runFor(double seconds) override { port_.runFor(seconds); }

 private:
  headless::HeadlessPort& port_;
  std::shared_ptr<headless::HeadlessWindow> window_;
  std::shared_ptr<View> feed_;
};

}  // namespace

std::unique_ptr<Screen> makeHeadlessScreen(headless::HeadlessPort& port) {
  return std::make_unique<HeadlessScreen>(port);
}

}  // namespace demo
