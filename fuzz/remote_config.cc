// Remote configuration as the service sends it, applied to the configuration: whatever was
// applied must read back the same after a relaunch (a new configuration over the same store).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_sdk.h"
#include "orvex/core/orvex_config.h"

using orvex::fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static orvex::fuzzing::FuzzSdk fuzz(256, [](auto& sdk) {
    orvex::Orvex::initialize(false, false);
    sdk.advance(10);
  });
  auto& sdk = fuzz.next();
  fuzz.answer(200, std::string(reinterpret_cast<const char*>(data), size));
  auto& config = orvex::Orvex::shared().config();
  config.fetchRemoteConfig();
  sdk.advance(10);

  orvex::OrvexConfig relaunched(orvex::Orvex::shared().platform());
  require(relaunched.uid() == config.uid(), "the user id survives");
  require(relaunched.active() == config.active(), "the on/off switch survives");
  require(relaunched.lastConfigAt() == config.lastConfigAt(), "the configuration time survives");
  require(relaunched.serverTimestamp() == config.serverTimestamp(), "the server time survives");
  // An empty text from the service changes memory only, by design.
  if (!config.displayTag().empty())
    require(relaunched.displayTag() == config.displayTag(), "the template survives");
  if (!config.displayTagMacro().empty())
    require(relaunched.displayTagMacro() == config.displayTagMacro(), "the macro survives");
  if (!config.playerVersion().empty())
    require(relaunched.playerVersion() == config.playerVersion(), "the player version survives");
  return 0;
}
