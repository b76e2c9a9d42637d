#include "orvex/formats/popup/orvex_popup_ad_view.h"

#include <algorithm>
#include <cmath>

#include "orvex/core/orvex.h"
#include "orvex/formats/popup/orvex_popup_ad_rolling_timer.h"
#include "orvex/platform/web_view.h"

namespace orvex {

struct OrvexPopupAdView::Platform {
  std::shared_ptr<Dispatcher> dispatcher;
  std::shared_ptr<AppLifecycle> lifecycle;
  std::shared_ptr<DeviceFacts> device;
  std::weak_ptr<UserInterface> ui;
};

namespace {

constexpr const char* kMessageName = "orvex";
// The dark style's bar and text colours.
constexpr std::uint32_t kDarkBarColor = 0x252525FF;
constexpr std::uint32_t kDarkHideForTodayColor = 0xA3A3A9FF;
constexpr std::uint32_t kDarkCloseColor = 0xDBDBE4FF;
// Where the page indicator sits when there is no close button beside it.
constexpr double kPageIndexTrailing = 20;
// How far the sheet travels beyond its height when it comes in and goes out, and how far the
// dialog rises as it fades in.
constexpr double kBottomAppearTravel = 48, kBottomCloseTravel = 60, kCenterAppearTravel = 40;
// The dialog keeps this much of the window around it (horizontally, vertically).
constexpr double kCenterHorizontalMargin = 32, kCenterVerticalMargin = 64;
// A page accepts touches again this long after the carousel's pan ends.
constexpr double kTouchesBackSeconds = 0.2;
// A video page starts playing this long after it becomes the current page.
constexpr double kPlayDelaySeconds = 0.01;

// Tells the page's player it is visible (retrying while its script is not ready) and plays its
// videos from the start if they have ended.
constexpr const char* kPlayScript = R"JS((function() {
  function visible() {
    if (typeof window.adPlayerVisibilityCallback === 'function') {
      window.adPlayerVisibilityCallback(true);
      return true;
    }
    return false;
  }
  if (!visible()) {
    setTimeout(function() { if (!visible()) { setTimeout(visible, 300); } }, 200);
  }
  document.querySelectorAll('video').forEach(function(video) {
    if (video.ended) { video.currentTime = 0; }
    var played = video.play();
    if (played && played.catch) {
      played.catch(function(error) { console.log('Video play failed:', error); });
    }
  });
})();)JS";

bool endsWith(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(),
                                                      suffix.data(), suffix.size()) == 0;
}

// The page's play and pause messages; the web view holds it, it holds the popup view weakly.
class OrvexMessageHandler : public ScriptMessageHandler {
 public:
  OrvexMessageHandler(std::weak_ptr<TaskQueue> main, std::function<void()> play,
                      std::function<void()> pause)
      : main_(std::move(main)), playCallback_(std::move(play)), pauseCallback_(std::move(pause)) {}

  void didReceive(WebView& /*webView*/, const ScriptMessage& message) override {
    if (message.name != kMessageName) return;
    const Value* action = message.body.find("action");
    const std::string* name = action ? action->asString() : nullptr;
    if (!name) return;
    auto main = main_.lock();
    if (!main) return;
    if (*name == "play") {
      main->post(playCallback_);
    } else if (*name == "pause") {
      main->post(pauseCallback_);
    }
  }

 private:
  std::weak_ptr<TaskQueue> main_;
  std::function<void()> playCallback_;
  std::function<void()> pauseCallback_;
};

}  // namespace

std::shared_ptr<OrvexPopupAdView> OrvexPopupAdView::make(UserInterface& ui,
                                                         AdUnitPopupFormat type) {
  const auto& platform = Orvex::shared().platform();
  auto built = buildLayout(
      ui, platform,
      type == AdUnitPopupFormat::CENTER ? "OrvexPopupAdViewCenter" : "OrvexPopupAdViewBottom");
  if (!built) return nullptr;
  if (!built->element<ScrollView>("scrollView") || !built->element<View>("adContainerView") ||
      !built->element<View>("backgroundDimView")) {
    SimpleLogger("OrvexPopupAdView").log("the layout lacks its carousel, container or dim view");
    return nullptr;
  }
  auto services = std::make_shared<Platform>();
  services->dispatcher = platform.dispatcher;
  services->lifecycle = platform.lifecycle;
  services->device = platform.device;
  if (platform.ui.get() == &ui) services->ui = platform.ui;
  std::shared_ptr<OrvexPopupAdView> view(
      new OrvexPopupAdView(std::move(*built), type, std::move(services)));

  std::weak_ptr<OrvexPopupAdView> weak = view;
  view->layout_.setLayoutHandler(view->root_->accessibilityIdentifier(), [weak] {
    if (auto self = weak.lock()) self->layoutContainer();
  });
  view->layout_.setLayoutHandler("scrollView", [weak] {
    if (auto self = weak.lock()) self->layoutPages();
  });
  return view;
}

OrvexPopupAdView::OrvexPopupAdView(BuiltLayout layout, AdUnitPopupFormat type,
                                   std::shared_ptr<Platform> platform)
    : layout_(std::move(layout)),
      platform_(std::move(platform)),
      strings_(LocalizedStrings::forDevice()),
      root_(layout_.root),
      scroll_(layout_.element<ScrollView>("scrollView")),
      container_(layout_.element<View>("adContainerView")),
      dim_(layout_.element<View>("backgroundDimView")),
      actionBar_(layout_.element<View>("actionBar")),
      actionBarOutside_(layout_.element<View>("actionBarOutside")),
      type_(type) {
  root_->setBackgroundColor(0);
  if (auto rules = layout_.rules("scrollView"); rules && rules->aspect) ratio_ = *rules->aspect;
}

OrvexPopupAdView::~OrvexPopupAdView() {
  if (rollingTimer_) rollingTimer_->stop();
  if (visibilityTimer_) visibilityTimer_->invalidate();
  if (animator_) animator_->stop();
  if (panHooked_) scroll_->removePanHandler(panToken_);
  for (const auto& page : webViews_) {
    if (!page || !page->webView()) continue;
    page->webView()->removeScriptMessageHandler(kMessageName);
    page->webView()->removeAllUserScripts();
  }
}

// ---- configure ----

void OrvexPopupAdView::configure(const PopupOptions& options,
                                 std::optional<std::uint32_t> backgroundColor,
                                 std::optional<std::uint32_t> hideForTodayTextColor,
                                 std::optional<std::uint32_t> closeTextColor,
                                 std::optional<std::uint32_t> ctaTextColor) {
  options_ = options;
  type_ = options.type == AdUnitPopupFormat::CENTER ? AdUnitPopupFormat::CENTER
                                                    : AdUnitPopupFormat::BOTTOM;

  // Roles: the right and left buttons of the kept bar, each with the label beside it.
  const bool performance = options.templateKind == AdUnitPopupTemplate::PERFORMANCE;
  auto button = [this](const char* id) { return element<Button>(id); };
  auto label = [this](const char* id) { return element<Label>(id); };
  struct Side {
    std::shared_ptr<Button> button;
    std::shared_ptr<Label> label;
  };
  Side right, left;
  roles_ = {};
  const auto insideClose = button("insideTopRightCloseButton");
  const auto position = options.closeButtonPosition;
  if (position == PopupCloseButtonPosition::OUTSIDE_TOP_RIGHT ||
      position == PopupCloseButtonPosition::OUTSIDE_BOTTOM_RIGHT ||
      position == PopupCloseButtonPosition::INSIDE_TOP_RIGHT) {
    insideBarKept_ = false;
    if (actionBar_) actionBar_->removeFromSuperview();
    outsideBar_ = position == PopupCloseButtonPosition::OUTSIDE_BOTTOM_RIGHT ? OutsideBar::below
                                                                             : OutsideBar::above;
    left = {button("leftActionButtonOutside"), label("leftActionLabelOutside")};
    right = {button("rightActionButtonOutside"), label("rightActionLabelOutside")};
  } else {
    insideBarKept_ = true;
    outsideBar_ = OutsideBar::none;
    if (actionBarOutside_) actionBarOutside_->removeFromSuperview();
    left = {button("leftActionButton"), label("leftActionLabel")};
    right = {button("rightActionButton"), label("rightActionLabel")};
  }
  if (position == PopupCloseButtonPosition::INSIDE_TOP_RIGHT) {
    // The corner button closes; the outside bar keeps its left side only, which carries the call
    // to action of a performance popup and the hide-for-today of the other template.
    if (right.button) right.button->removeFromSuperview();
    if (right.label) right.label->removeFromSuperview();
    if (performance) {
      roles_.ctaButton = left.button;
      roles_.ctaLabel = left.label;
      roles_.closeButton = insideClose;
    } else {
      roles_.hideForTodayButton = left.button;
      roles_.hideForTodayLabel = left.label;
    }
  } else if (performance) {
    roles_.ctaButton = right.button;
    roles_.ctaLabel = right.label;
    roles_.closeButton = left.button;
    roles_.closeLabel = left.label;
  } else {
    roles_.closeButton = right.button;
    roles_.closeLabel = right.label;
    roles_.hideForTodayButton = left.button;
    roles_.hideForTodayLabel = left.label;
  }

  // Colours: the interface style's, then the host's.
  const bool dark = darkStyle();
  if (insideBarKept_ && actionBar_) {
    if (backgroundColor) {
      actionBar_->setBackgroundColor(*backgroundColor);
    } else if (dark) {
      actionBar_->setBackgroundColor(kDarkBarColor);
    }
  }
  if (dark && roles_.hideForTodayLabel)
    roles_.hideForTodayLabel->setTextColor(kDarkHideForTodayColor);
  if (dark && roles_.closeLabel) roles_.closeLabel->setTextColor(kDarkCloseColor);
  if (hideForTodayTextColor && roles_.hideForTodayLabel)
    roles_.hideForTodayLabel->setTextColor(*hideForTodayTextColor);
  if (closeTextColor && roles_.closeLabel) roles_.closeLabel->setTextColor(*closeTextColor);
  if (ctaTextColor && roles_.ctaLabel) roles_.ctaLabel->setTextColor(*ctaTextColor);

  // Texts.
  if (roles_.hideForTodayLabel)
    roles_.hideForTodayLabel->setText(strings_.find("orvex_hide_for_today").value_or(""));
  if (roles_.closeLabel) roles_.closeLabel->setText(strings_.find("orvex_close").value_or(""));
  if (insideClose) insideClose->setTitle("");

  if (position != PopupCloseButtonPosition::INSIDE_TOP_RIGHT) {
    if (insideClose) insideClose->setHidden(true);
    if (auto glyph = element<View>("insideTopRightCloseLabel")) glyph->setHidden(true);
    if (auto rules = layout_.rules("pageIndexView")) {
      rules->right = kPageIndexTrailing;
      layout_.setRules("pageIndexView", *rules);
    }
  }
  if (!options.useHideForToday) {
    if (roles_.hideForTodayButton) roles_.hideForTodayButton->setHidden(true);
    if (roles_.hideForTodayLabel) roles_.hideForTodayLabel->setHidden(true);
  }

  dim_->setAlpha(std::clamp(options.backgroundDimOpacity / 100.0, 0.0, 1.0));
  container_->setClipsToBounds(true);
  container_->setCornerRadius(kCornerRadius, type_ == AdUnitPopupFormat::CENTER
                                                 ? kAllCorners
                                                 : kTopLeftCorner | kTopRightCorner);

  // Input.
  std::weak_ptr<OrvexPopupAdView> weak = weak_from_this();
  scroll_->setDelegate(std::static_pointer_cast<ScrollViewDelegate>(shared_from_this()));
  if (!panHooked_) {
    panHooked_ = true;
    panToken_ = scroll_->addPanHandler([weak](PanState state) {
      if (auto self = weak.lock()) self->handlePan(state);
    });
    dim_->addTapHandler([weak] {
      if (auto self = weak.lock()) self->tapBackground();
    });
  }
  auto action = [weak](void (OrvexPopupAdView::*tap)()) {
    return [weak, tap] {
      if (auto self = weak.lock()) (self.get()->*tap)();
    };
  };
  if (roles_.ctaButton) roles_.ctaButton->setAction(action(&OrvexPopupAdView::tapCTA));
  if (roles_.closeButton) roles_.closeButton->setAction(action(&OrvexPopupAdView::tapClose));
  if (roles_.hideForTodayButton)
    roles_.hideForTodayButton->setAction(action(&OrvexPopupAdView::tapHideForToday));
  // The corner button closes whenever it shows, whatever role the template gave it.
  if (insideClose) insideClose->setAction(action(&OrvexPopupAdView::tapClose));
  layoutContainer();
}

bool OrvexPopupAdView::darkStyle() const {
  InterfaceStyle style = InterfaceStyle::unspecified;
  if (auto window = root_->window()) style = window->interfaceStyle();
  if (style == InterfaceStyle::unspecified) {
    if (auto ui = platform_->ui.lock()) {
      if (auto window = ui->firstSceneKeyWindow()) style = window->interfaceStyle();
    }
  }
  if (style == InterfaceStyle::unspecified && platform_->device)
    style = platform_->device->interfaceStyle();
  return style == InterfaceStyle::dark;
}

bool OrvexPopupAdView::applicationIsActive() const {
  return platform_->lifecycle && platform_->lifecycle->state() == AppState::active;
}

// ---- sizes ----

void OrvexPopupAdView::setCreativeSize(std::optional<CreativeSize> size) {
  if (!size || !(size->w > 0) || !(size->h > 0)) return;
  ratio_ = size->w / size->h;
  if (auto rules = layout_.rules("scrollView")) {
    rules->aspect = ratio_;
    layout_.setRules("scrollView", *rules);
  }
  if (type_ == AdUnitPopupFormat::CENTER) {
    Size shown{size->w, size->h};
    if (shown.width <= kMinimumCenterWidth) {
      shown = {kMinimumCenterWidth, kMinimumCenterWidth * size->h / size->w};
    }
    auto ui = platform_->ui.lock();
    const Rect screen = ui ? ui->screenBounds() : root_->bounds();
    if (shown.width <= screen.size.width - kCenterHorizontalMargin &&
        shown.height <= screen.size.height - kCenterVerticalMargin) {
      pinnedSize_ = shown;
    }
  }
  layoutContainer();
}

Size OrvexPopupAdView::pageSize() const {
  const double w = container_->bounds().size.width;
  return {w, ratio_ > 0 ? w / ratio_ : 0};
}

void OrvexPopupAdView::layoutContainer() {
  const Size area = root_->bounds().size;
  auto heightOf = [this](const char* id, double fallback) {
    auto rules = layout_.rules(id);
    return rules && rules->height ? *rules->height : fallback;
  };
  const double bar = insideBarKept_ && actionBar_ ? heightOf("actionBar", 0) : 0;
  const double outside =
      outsideBar_ != OutsideBar::none && actionBarOutside_ ? heightOf("actionBarOutside", 0) : 0;
  const bool center = type_ == AdUnitPopupFormat::CENTER;

  double width = area.width;
  if (center) {
    auto rules = layout_.rules("adContainerView");
    width = pinnedSize_ ? pinnedSize_->width : (rules && rules->width ? *rules->width : 320);
  }
  // Whatever the creative, the popup stays inside the window.
  if (area.width > 0 && area.height > 0) {
    if (center) width = std::min(width, std::max(0.0, area.width - kCenterHorizontalMargin));
    const double room = area.height - kCenterVerticalMargin - bar - outside;
    if (width / ratio_ > room) width = std::max(0.0, room * ratio_);
  }
  const double height = width / ratio_ + bar;

  LayoutRules box, strip;
  box.width = strip.width = width;
  box.centerX = strip.centerX = 0;
  box.height = height;
  strip.height = outside;
  if (center) {
    const double top = (area.height - height - outside) / 2;
    box.top = top + (outsideBar_ == OutsideBar::above ? outside : 0);
    strip.top = outsideBar_ == OutsideBar::above ? top : top + height;
  } else {
    box.bottom = outsideBar_ == OutsideBar::below ? outside : 0;
    strip.bottom = outsideBar_ == OutsideBar::below ? 0 : height;
  }
  layout_.setRules("adContainerView", box);
  if (outsideBar_ != OutsideBar::none) layout_.setRules("actionBarOutside", strip);
}

// ---- animations ----

void OrvexPopupAdView::animateIn() {
  const bool center = type_ == AdUnitPopupFormat::CENTER;
  const double dimAlpha = dim_->alpha();
  dim_->setAlpha(0);
  std::vector<std::shared_ptr<View>> moving{container_};
  if (outsideBar_ != OutsideBar::none && actionBarOutside_) moving.push_back(actionBarOutside_);
  auto animator =
      ViewAnimator::make(center ? kAppearCenterSeconds : kAppearBottomSeconds, kAppearingCurve);
  const double travel = center ? kCenterAppearTravel : pageSize().height + kBottomAppearTravel;
  for (const auto& view : moving) {
    view->setTranslation({0, travel});
    animator->animateTranslation(view, {0, 0});
    if (center) {
      view->setAlpha(0);
      animator->animateAlpha(view, 1);
    }
  }
  animator->animateAlpha(dim_, dimAlpha);
  std::weak_ptr<OrvexPopupAdView> weak = weak_from_this();
  animator->setCompletion([weak](bool finished) {
    auto self = weak.lock();
    if (!self || !finished || self->closing_) return;
    self->onAnimationCompleted_ = true;
    self->activateCurrentPage();
    const auto index = static_cast<std::size_t>(self->currentIndex_);
    if (index >= self->ads_.size() || !isVideoCreative(self->ads_[index])) self->startRolling();
  });
  animator_ = animator;
  animator->start();
}

void OrvexPopupAdView::close() {
  if (closing_) return;
  closing_ = true;
  stopRolling();
  if (animator_) animator_->stop();
  const bool center = type_ == AdUnitPopupFormat::CENTER;
  auto animator =
      ViewAnimator::make(center ? kCloseCenterSeconds : kCloseBottomSeconds, kClosingCurve);
  std::vector<std::shared_ptr<View>> moving{container_};
  if (outsideBar_ != OutsideBar::none && actionBarOutside_) moving.push_back(actionBarOutside_);
  const double travel = container_->bounds().size.height + kBottomCloseTravel;
  for (const auto& view : moving) {
    if (center) {
      animator->animateAlpha(view, 0);
    } else {
      animator->animateTranslation(view, {0, travel});
    }
  }
  animator->animateAlpha(dim_, 0);
  std::weak_ptr<OrvexPopupAdView> weak = weak_from_this();
  animator->setCompletion([weak](bool) {
    auto self = weak.lock();
    if (!self) return;
    if (auto dismissed = self->onDismissView) dismissed();
    self->root_->removeFromSuperview();
  });
  animator_ = animator;
  animator->start();
}

// ---- pages ----

void OrvexPopupAdView::setPages(std::vector<AdRes> ads,
                                std::vector<std::shared_ptr<PassthroughWebView>> webViews) {
  const Size page = pageSize();
  ads_ = std::move(ads);
  maxPage_ = static_cast<int>(ads_.size());
  currentIndex_ = 0;
  showPageIndex();
  if (auto total = element<Label>("totalIndexLabel")) total->setText(std::to_string(maxPage_));
  if (auto indicator = element<View>("pageIndexView")) indicator->setHidden(maxPage_ < 2);
  scroll_->setScrollEnabled(maxPage_ >= 2);

  webViews_ = std::move(webViews);
  for (std::size_t i = 0; i < webViews_.size(); ++i) {
    if (!webViews_[i] || !webViews_[i]->webView()) continue;
    webViews_[i]->webView()->setFrame(Rect(0, 0, std::ceil(page.width), std::ceil(page.height)));
    registerMessageHandler(i);
  }
  scroll_->setContentSize({3 * page.width, page.height});
  scroll_->setContentOffset({page.width, 0}, false);
  nextPage_ = -1;
  if (rollingTimer_) rollingTimer_->setMaxPages(maxPage_);
  placePages();
  updateCTAText();
}

void OrvexPopupAdView::layoutPages() {
  const Size page = pageSize();
  if (!(page.width > 0)) return;
  for (const auto& view : scroll_->subviews())
    view->setFrame(Rect(0, 0, std::round(page.width), std::round(page.height)));
  scroll_->setContentSize({3 * page.width, page.height});
  scroll_->setContentOffset({page.width, 0}, false);
  placePages();
  nextPage_ = -1;
}

void OrvexPopupAdView::placePages() {
  const Size page = pageSize();
  const int n = maxPage_;
  std::vector<std::pair<int, double>> slots;  // page index, x
  if (n > 0) {
    const int current = currentIndex_;
    slots.emplace_back(current, page.width);
    if (n >= 3) {
      slots.emplace_back((current - 1 + n) % n, 0);
      slots.emplace_back((current + 1) % n, 2 * page.width);
    } else if (n == 2) {
      const double x = scroll_->contentOffset().x;
      if (x > page.width) slots.emplace_back(1 - current, 2 * page.width);
      if (x < page.width) slots.emplace_back(1 - current, 0);
    }
  }
  auto pageView = [this](int index) -> std::shared_ptr<WebView> {
    if (index < 0 || static_cast<std::size_t>(index) >= webViews_.size() || !webViews_[index])
      return nullptr;
    return webViews_[index]->webView();
  };
  // Only what moves out of the slots leaves the carousel: a page engine redraws what it re-adds.
  for (int i = 0; i < static_cast<int>(webViews_.size()); ++i) {
    auto view = pageView(i);
    const bool placed =
        std::any_of(slots.begin(), slots.end(), [i](const auto& slot) { return slot.first == i; });
    if (view && !placed && view->superview() == scroll_) view->removeFromSuperview();
  }
  for (const auto& [index, x] : slots) {
    auto view = pageView(index);
    if (!view) continue;
    view->setFrame(Rect(x, 0, page.width, page.height));
    if (view->superview() != scroll_) scroll_->addSubview(view);
  }
}

void OrvexPopupAdView::settle() {
  const double width = pageSize().width;
  const int n = maxPage_;
  if (!(width > 0) || n <= 0) return;
  const long slot = std::lround(scroll_->contentOffset().x / width);
  if (slot >= 2) {
    currentIndex_ = (currentIndex_ + 1) % n;
  } else if (slot <= 0) {
    currentIndex_ = (currentIndex_ + n - 1) % n;
  }
  showPageIndex();
  if (rollingTimer_) rollingTimer_->start();
  scroll_->setContentOffset({width, 0}, false);
  placePages();
  nextPage_ = -1;
  updateCTAText();
  activateCurrentPage();
}

void OrvexPopupAdView::showPageIndex() {
  if (auto current = element<Label>("currentIndexLabel"))
    current->setText(std::to_string(currentIndex_ + 1));
}

void OrvexPopupAdView::updateCTAText() {
  if (!roles_.ctaLabel || static_cast<std::size_t>(currentIndex_) >= ads_.size()) return;
  std::string cta = ads_[currentIndex_].callToAction.value_or("");
  if (cta.empty()) cta = "view_details";
  roles_.ctaLabel->setText(strings_.find("orvex_cta_" + cta).value_or(cta));
}

bool OrvexPopupAdView::isVideoCreative(const AdRes& ad) {
  if (const auto& html = ad.creative) {
    for (const char* mark : {"<video", "video/mp4", "vjsPlayer", "video-js"}) {
      if (html->find(mark) != std::string::npos) return true;
    }
  }
  if (const auto& asset = ad.asset) {
    for (const char* suffix : {".mp4", ".webm", ".ogg"}) {
      if (endsWith(*asset, suffix)) return true;
    }
    if (asset->find("video") != std::string::npos) return true;  // "/video/" included
  }
  return false;
}

void OrvexPopupAdView::activateCurrentPage() {
  const auto index = static_cast<std::size_t>(currentIndex_);
  if (index >= ads_.size()) return;
  if (!isVideoCreative(ads_[index])) {
    if (rollingTimer_) rollingTimer_->setShouldRoll(true);
    if (isOnScreen() && applicationIsActive()) startRolling();
    return;
  }
  stopRolling();
  auto main = platform_->dispatcher ? platform_->dispatcher->mainQueue() : nullptr;
  if (!main) return;
  std::weak_ptr<OrvexPopupAdView> weak = weak_from_this();
  const int page = currentIndex_;
  main->postAfter(secondsToDuration(kPlayDelaySeconds), [weak, page] {
    if (auto self = weak.lock()) self->playVideo(page);
  });
}

void OrvexPopupAdView::playVideo(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= webViews_.size() || !webViews_[index] ||
      !webViews_[index]->webView())
    return;
  std::weak_ptr<OrvexPopupAdView> weak = weak_from_this();
  webViews_[index]->webView()->evaluateJavaScript(
      kPlayScript, [weak](std::optional<Value>, std::optional<WebError> error) {
        auto self = weak.lock();
        if (self && error) self->logger_.log("Error playing video: " + error->description);
      });
}

void OrvexPopupAdView::registerMessageHandler(std::size_t index) {
  auto webView = webViews_[index]->webView();
  auto main = platform_->dispatcher ? platform_->dispatcher->mainQueue() : nullptr;
  std::weak_ptr<OrvexPopupAdView> weak = weak_from_this();
  auto handler = std::make_shared<OrvexMessageHandler>(
      main,
      [weak] {
        auto self = weak.lock();
        if (!self || !self->rollingTimer_) return;
        self->rollingTimer_->setShouldRoll(false);
        self->rollingTimer_->stop();
      },
      [weak] {
        auto self = weak.lock();
        if (!self || !self->rollingTimer_) return;
        self->rollingTimer_->setShouldRoll(true);
        if (self->isOnScreen() && self->applicationIsActive()) self->rollingTimer_->start();
      });
  webView->removeScriptMessageHandler(kMessageName);
  webView->addScriptMessageHandler(handler, kMessageName);
  orvexMessageHandlers_[std::to_string(index)] = std::move(handler);
}

// ---- rolling and visibility ----

void OrvexPopupAdView::setRollingTimer(std::shared_ptr<OrvexPopupAdRollingTimer> timer) {
  rollingTimer_ = std::move(timer);
  if (rollingTimer_ && maxPage_ > 0) rollingTimer_->setMaxPages(maxPage_);
}

void OrvexPopupAdView::setVisibilityTimer(std::unique_ptr<Timer> timer) {
  if (visibilityTimer_) visibilityTimer_->invalidate();
  visibilityTimer_ = std::move(timer);
}

void OrvexPopupAdView::startRolling() {
  if (rollingTimer_) rollingTimer_->start();
}

void OrvexPopupAdView::stopRolling() {
  if (rollingTimer_) rollingTimer_->stop();
}

void OrvexPopupAdView::checkVisibility() {
  if (!rollingTimer_) return;
  if (isOnScreen() && applicationIsActive()) {
    if (!rollingTimer_->isRunning()) rollingTimer_->start();
  } else {
    rollingTimer_->stop();
  }
}

bool OrvexPopupAdView::isOnScreen() const {
  auto window = root_->window();
  if (!window || root_->isHidden() || root_->alpha() == 0) return false;
  return root_->convertRect(root_->bounds(), *window).intersects(window->bounds());
}

// ---- input ----

void OrvexPopupAdView::handlePan(PanState state) {
  auto setIgnoring = [this](bool ignore) {
    for (const auto& page : webViews_) {
      if (page) page->setShouldIgnoreTouches(ignore);
    }
  };
  switch (state) {
    case PanState::began:
      ++panGeneration_;
      setIgnoring(true);
      break;
    case PanState::changed:
      setIgnoring(true);
      break;
    case PanState::ended:
    case PanState::cancelled:
    case PanState::failed: {
      auto main = platform_->dispatcher ? platform_->dispatcher->mainQueue() : nullptr;
      if (!main) break;
      std::weak_ptr<OrvexPopupAdView> weak = weak_from_this();
      main->postAfter(secondsToDuration(kTouchesBackSeconds), [weak, pan = panGeneration_] {
        auto self = weak.lock();
        if (!self || self->panGeneration_ != pan) return;  // another pan has begun since
        for (const auto& page : self->webViews_) {
          if (page) page->setShouldIgnoreTouches(false);
        }
      });
      break;
    }
  }
}

void OrvexPopupAdView::scrollViewDidScroll(ScrollView& /*scrollView*/) {
  const double width = pageSize().width;
  if (!(width > 0)) return;
  const double x = scroll_->contentOffset().x;
  const int offsetClass = x < width ? 0 : (x < 2 * width ? 2 : 1);
  // With two pages the other one follows the side the offset is on, exactly W included.
  if (offsetClass != nextPage_ || maxPage_ == 2) {
    placePages();
    nextPage_ = offsetClass;
  }
}

void OrvexPopupAdView::scrollViewWillBeginDragging(ScrollView& /*scrollView*/) {
  if (rollingTimer_) rollingTimer_->scrollViewWillBeginDragging();
}

void OrvexPopupAdView::scrollViewDidEndDragging(ScrollView& /*scrollView*/, bool willDecelerate) {
  if (rollingTimer_) rollingTimer_->scrollViewDidEndDragging(willDecelerate);
  // Released exactly on another page, nothing decelerates: it settles now.
  if (!willDecelerate && scroll_->contentOffset().x != pageSize().width) settle();
}

void OrvexPopupAdView::scrollViewDidEndDecelerating(ScrollView& /*scrollView*/) {
  if (rollingTimer_) rollingTimer_->scrollViewDidEndDecelerating();
  settle();
}

void OrvexPopupAdView::scrollViewDidEndScrollingAnimation(ScrollView& /*scrollView*/) {
  settle();
}

// A tap while the popup closes already is not another close.
void OrvexPopupAdView::tapClose() {
  if (!onAnimationCompleted_ || closing_) return;
  auto self = shared_from_this();  // a closure may release the popup
  close();
  if (auto callback = onClickClose) callback();
}

void OrvexPopupAdView::tapBackground() {
  if (!onAnimationCompleted_ || closing_ || !options_.useDimTapToClose) return;
  auto self = shared_from_this();
  close();
  if (auto callback = onClickBackground) callback();
}

void OrvexPopupAdView::tapHideForToday() {
  if (closing_) return;
  auto self = shared_from_this();
  close();
  if (auto callback = onClickHideForToday) callback(currentIndex_);
}

void OrvexPopupAdView::tapCTA() {
  auto self = shared_from_this();
  if (auto callback = onCTAClick) callback(currentIndex_);
}

}  // namespace orvex
