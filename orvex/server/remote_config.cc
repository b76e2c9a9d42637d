// Remote configuration: until the request documents land, the exchange is refused at the gate.
#include "orvex/core/orvex.h"
#include "orvex/core/orvex_config.h"
#include "orvex/server/server_error.h"

namespace orvex {

void OrvexConfig::fetchRemoteConfig(std::function<void(const ServerError&)> completion) {
  Orvex& sdk = Orvex::shared();
  ServerError error = ServerError::refused(!sdk.initialized()      ? NotActivated::notInitialized
                                           : !sdk.isTargetDevice() ? NotActivated::notTargetCountry
                                                                   : NotActivated::notActive);
  logger_.log("remote config failed. " + error.description());
  if (completion) completion(error);
}

}  // namespace orvex
