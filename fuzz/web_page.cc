// What a creative page can do to the SDK once a banner shows it: activate links, ask for new
// windows, post script messages (to the forwarding agents screens register), fail or finish its
// load, answer scripts with any value, and let time pass so the trackers run. The creative
// markup itself comes from the input too.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/core/json.h"
#include "orvex/formats/inline/orvex_banner.h"
#include "orvex/web/user_content_control_agent.h"
#include "ports/headless/headless_user_interface.h"
#include "ports/headless/headless_web_view.h"

namespace {

using namespace orvex;

// A screen's side of the agents: answers every message with its own body.
struct Screen : ScriptMessageHandler, ScriptMessageHandlerWithReply {
  void didReceive(WebView&, const ScriptMessage&) override {}
  void didReceive(WebView&, const ScriptMessage& message, Reply reply) override {
    reply(message.body, std::nullopt);
  }
};

std::shared_ptr<View> gSlot;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzing::FuzzSdk fuzz(64, [](auto& sdk) {
    Orvex::initialize(false, false);
    sdk.advance(10);
    auto window = sdk.port().ui->makeKeyWindowWithRootController();
    gSlot = sdk.port().ui->makeView();
    window->rootViewController()->view()->addSubview(gSlot);
    gSlot->setFrame({0, 100, 390, 60});
  });
  FuzzedDataProvider input(data, size);
  auto& sdk = fuzz.next();
  ValueDict ad{{"id", "tx:1_creative"}, {"creative", input.ConsumeRandomLengthString(4096)}};
  if (input.ConsumeBool()) ad.emplace("browserTarget", 1);
  fuzz.answer(200, json::write(Value(ValueDict{{"data", ValueDict{{"requestAd", ad}}}})));

  auto banner = OrvexBanner::create("unit", "feed");
  banner->setUseCustomClick(input.ConsumeBool());
  gSlot->addSubview(banner->view());
  banner->view()->setFrame({0, 0, 390, 60});
  banner->load();
  sdk.advance(0.1);
  auto page = std::dynamic_pointer_cast<headless::HeadlessWebView>(banner->webView());
  if (!page) fuzzing::fail("the banner has a web view");
  auto screen = std::make_shared<Screen>();
  auto agent = std::make_shared<UserContentControlAgent>();
  auto asyncAgent = std::make_shared<UserContentControlAgentAsync>();
  agent->delegate = screen;
  asyncAgent->delegate = screen;
  page->addScriptMessageHandler(agent, "orvex");
  page->addScriptMessageHandlerWithReply(asyncAgent, "bridge");

  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange(0, 8)) {
      case 0:
        if (input.ConsumeBool()) {
          page->activateLink(input.ConsumeRandomLengthString(512));
        } else {
          page->navigate(
              NavigationAction{static_cast<NavigationType>(input.ConsumeIntegralInRange(-1, 4)),
                               input.ConsumeRandomLengthString(512),
                               static_cast<NavigationTarget>(input.ConsumeIntegralInRange(0, 2)),
                               input.ConsumeBool()});
        }
        break;
      case 1:
        page->requestNewWindow(input.ConsumeBool()
                                   ? std::optional(input.ConsumeRandomLengthString(512))
                                   : std::nullopt,
                               input.ConsumeBool());
        break;
      case 2:
        page->postMessageJSON(input.ConsumeBool() ? "orvex" : "bridge",
                              input.ConsumeRandomLengthString(1024));
        break;
      case 3:
        page->failLoad(WebError{input.ConsumeRandomLengthString(32), input.ConsumeIntegral<int>(),
                                input.ConsumeRandomLengthString(64)});
        break;
      case 4:
        page->finishLoad();
        break;
      case 5: {
        auto answer = json::parse(input.ConsumeRandomLengthString(512));
        page->setScriptResponder([answer](const std::string&) { return answer; });
        break;
      }
      case 6:
        banner->open(input.ConsumeBool() ? std::optional(input.ConsumeRandomLengthString(512))
                                         : std::nullopt,
                     input.ConsumeBool());
        break;
      case 7:
        page->loadURL(input.ConsumeRandomLengthString(256), 10);
        break;
      default:
        sdk.advance(input.ConsumeIntegralInRange(0, 2000) / 1000.0);
        break;
    }
  }
  sdk.advance(0.1);
  banner.reset();
  sdk.advance(0.1);
  return 0;
}
