#include "orvex/web/link_opener.h"

#include <gtest/gtest.h>

#include "orvex/core/orvex.h"
#include "ports/headless/headless_user_interface.h"
#include "tests/support/test_sdk.h"

namespace orvex {
namespace {

using headless::HeadlessUserInterface;
using headless::OpenedLink;
using testing_support::TempDir;
using testing_support::TestSdk;

Url url(const std::string& text) {
  return *Url::parse(text);
}

class LinkOpening : public ::testing::Test {
 protected:
  LinkOpening() : sdk_(dir_.path()), ui_(*sdk_.port().ui) {
    window_ = ui_.makeKeyWindowWithRootController();
  }
  std::shared_ptr<ViewController> root() { return window_->rootViewController(); }
  std::vector<std::pair<OpenedLink::Kind, std::string>> opened() const {
    std::vector<std::pair<OpenedLink::Kind, std::string>> out;
    for (auto& l : ui_.openedLinks()) out.emplace_back(l.kind, l.target);
    return out;
  }

  TempDir dir_;
  TestSdk sdk_;
  HeadlessUserInterface& ui_;
  std::shared_ptr<Window> window_;
};

TEST_F(LinkOpening, BrowserChoiceFollowsTheSwitchTheTargetAndTheScheme) {
  Orvex::initialize(false, false);
  openLink(root(), url("https://example.com/landing"), std::nullopt);
  openLink(root(), url("https://example.com/inside"), BrowserTarget::INTERNAL);
  sdk_.advance(1);
  root()->dismiss(false, {});
  sdk_.advance(1);
  // Not http(s): the system's handler even when the ad asks for the in-app browser, and only
  // for web, mail, telephone and text-message links. Anything else is logged and dropped.
  for (const char* text : {"tel:+15551234", "mailto:a@example.com", "sms:+15551234",
                           "myapp://open?x=1", "smb://files.example/share", "file:///etc/passwd",
                           "javascript:alert(1)", "data:text/html,x"}) {
    openLink(root(), url(text), BrowserTarget::INTERNAL);
  }
  using K = OpenedLink::Kind;
  EXPECT_EQ(opened(),
            (std::vector<std::pair<K, std::string>>{{K::external, "https://example.com/landing"},
                                                    {K::inAppBrowser, "https://example.com/inside"},
                                                    {K::external, "tel:+15551234"},
                                                    {K::external, "mailto:a@example.com"},
                                                    {K::external, "sms:+15551234"}}));
  EXPECT_TRUE(
      sdk_.logged("Orvex::LinkOpener refused to open smb://files.example/share outside "
                  "the app"));
  EXPECT_EQ(root()->presentedViewController(), nullptr);
  // The port refuses the same, whoever asks.
  ui_.openExternalURL("smb://files.example/share");
  ui_.openExternalURL("myapp://open");
  EXPECT_EQ(opened().size(), 5u);
}

TEST_F(LinkOpening, StoreLinksOpenTheProductSheetOrFallBack) {
  Orvex::initialize(false, false);
  const std::string host = sdk_.port().platform.deployment.appStoreHost;
  openLink(root(), url("https://" + host + "/app/some-name/id123456789?mt=8"), std::nullopt);
  sdk_.advance(1);
  auto sheet = root()->presentedViewController();
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->kind(), ViewControllerKind::storeProduct);
  root()->dismiss(false, {});
  sdk_.advance(1);

  // No "/id" segment: an ordinary link.
  openLink(root(), url("https://" + host + "/app/some-name"), std::nullopt);
  // A failing product load logs and opens the link as an ordinary one.
  ui_.setStoreProductOutcome(false, "no network");
  openLink(root(), url("https://" + host + "/app/x/id42"), std::nullopt);
  sdk_.advance(1);
  using K = OpenedLink::Kind;
  EXPECT_EQ(opened(), (std::vector<std::pair<K, std::string>>{
                          {K::storeProduct, "123456789"},
                          {K::external, "https://" + host + "/app/some-name"},
                          {K::external, "https://" + host + "/app/x/id42"}}));
  EXPECT_TRUE(sdk_.logged("Orvex::LinkOpener cannot open https://" + host +
                          "/app/x/id42 in SKStoreProductViewController. no network"));

  // The presenter gone before the product loaded: nothing is presented.
  ui_.setStoreProductOutcome(true);
  {
    auto transient = ui_.makeViewController(ViewControllerKind::plain);
    openLink(transient, url("https://" + host + "/app/y/id7"), std::nullopt);
  }
  sdk_.advance(1);
  EXPECT_EQ(ui_.openedLinks().size(), 3u);
}

TEST_F(LinkOpening, TopMostDescendsNavigationTabsAndPresentations) {
  auto nav = ui_.makeViewController(ViewControllerKind::navigation);
  auto first = ui_.makeViewController(ViewControllerKind::plain);
  auto second = ui_.makeViewController(ViewControllerKind::plain);
  nav->addChildViewController(first);
  nav->addChildViewController(second);
  window_->setRootViewController(nav);
  EXPECT_EQ(topMostViewController(), second);

  auto modal = ui_.makeViewController(ViewControllerKind::plain);
  nav->present(modal, false, {});
  EXPECT_EQ(topMostViewController(), modal);
  nav->dismiss(false, {});
  sdk_.advance(1);

  auto tabs = ui_.makeViewController(ViewControllerKind::tabBar);
  auto a = ui_.makeViewController(ViewControllerKind::plain);
  auto b = ui_.makeViewController(ViewControllerKind::plain);
  tabs->addChildViewController(a);
  tabs->addChildViewController(b);
  dynamic_cast<headless::HeadlessViewController&>(*tabs).selectTab(1);
  window_->setRootViewController(tabs);
  EXPECT_EQ(topMostViewController(), b);

  // Outermost: from a view deep inside a child controller up to the root of the containment.
  auto leaf = ui_.makeView();
  b->view()->addSubview(leaf);
  EXPECT_EQ(nearestViewController(*leaf), b);
  EXPECT_EQ(outermostViewController(*leaf), tabs);
  EXPECT_EQ(outermostViewController(*ui_.makeView()), nullptr);

  ui_.removeWindow(window_);
  EXPECT_EQ(topMostViewController(), nullptr);
}

TEST(AppStoreProductId, TakesTheDigitsAfterId) {
  const std::pair<const char*, std::optional<std::string>> rows[] = {
      {"https://apps.apple.com/us/app/x/id987?l=en", "987"},
      {"https://apps.apple.com/us/app/x/idabc", std::nullopt},
      {"https://example.com/app/id987", std::nullopt},
      // A browser goes to example.com: no store sheet for it.
      {"https://example.com\\@apps.apple.com/app/id987", std::nullopt},
  };
  for (const auto& [link, id] : rows)
    EXPECT_EQ(appStoreProductId(url(link), "apps.apple.com"), id) << link;
}

}  // namespace
}  // namespace orvex
