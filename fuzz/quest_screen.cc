// What a quest page can do to its screen: bridge and close messages of any shape, replies that
// the page may or may not await, navigations of every type to any URL, new windows, failed and
// finished loads, time passing past the load watchdog — with the screen dismissed at any point.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/web/quest_web_view_controller.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"

namespace {

using namespace orvex;

std::shared_ptr<Window> gWindow;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzing::FuzzSdk fuzz(64, [](auto& sdk) {
    Orvex::initialize(false, false);
    sdk.advance(10);
    gWindow = sdk.port().ui->makeKeyWindowWithRootController();
  });
  FuzzedDataProvider input(data, size);
  auto& sdk = fuzz.next();
  auto root = gWindow->rootViewController();
  const std::size_t before = sdk.port().webViews->alive().size();
  OrvexQuestWebViewController::present(
      root, "https://quest.orvex.example/" + input.ConsumeRandomLengthString(64));
  sdk.advance(0.5);
  auto page = sdk.port().webViews->last();
  if (!page || sdk.port().webViews->alive().size() == before) {
    fuzzing::fail("the quest screen has a web view");
  }
  page->setFinishLoadsAutomatically(false);

  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0:
      case 1:
        page->postMessageJSON(input.ConsumeBool() ? "bridge" : "orvex",
                              input.ConsumeRandomLengthString(1024));
        break;
      case 2:
        page->navigate(
            NavigationAction{static_cast<NavigationType>(input.ConsumeIntegralInRange(-1, 4)),
                             input.ConsumeRandomLengthString(256),
                             static_cast<NavigationTarget>(input.ConsumeIntegralInRange(0, 2)),
                             input.ConsumeBool()});
        break;
      case 3:
        page->requestNewWindow(input.ConsumeBool()
                                   ? std::optional(input.ConsumeRandomLengthString(256))
                                   : std::nullopt,
                               input.ConsumeBool());
        break;
      case 4:
        page->failLoad(WebError{
            input.ConsumeBool() ? WebError::kURLErrorDomain : input.ConsumeRandomLengthString(16),
            input.ConsumeIntegralInRange(-1100, 200), "fuzzed"});
        break;
      case 5:
        page->finishLoad();
        break;
      case 6:
        if (root->presentedViewController()) root->dismiss(input.ConsumeBool(), nullptr);
        break;
      default:
        sdk.advance(input.ConsumeIntegralInRange(0, 6000) / 1000.0);
        break;
    }
  }
  if (root->presentedViewController()) root->dismiss(false, nullptr);
  sdk.advance(1);
  return 0;
}
