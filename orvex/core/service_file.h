#pragma once
// The service file "orvex_service.json" and its app key (a JSON Web Token whose payload names the
// platform it was issued for; the signature is not checked).

#include <optional>
#include <string>
#include <string_view>

#include "orvex/platform/platform.h"

namespace orvex {

class SimpleLogger;

namespace JWT {
// The payload (second part) as a dictionary, or absent when it does not decode.
std::optional<ValueDict> decodePayload(std::string_view token);
}  // namespace JWT

// The app key in a service file's text: the member named after the bundle identifier, else
// "app_key"; absent when the text is not a JSON object or holds no such string.
std::optional<std::string> appKeyFromServiceText(std::string_view text, std::string_view bundleId);

// Finds the service file in the bundle's resource directory, validates its key and returns it;
// empty when there is none or it is not valid for this platform. Not-found lines go through
// `logger`; the invalid-key warnings are always written.
std::string loadAppKey(const OrvexPlatform& platform, SimpleLogger& logger);

}  // namespace orvex
