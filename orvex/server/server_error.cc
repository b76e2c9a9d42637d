#include "orvex/server/server_error.h"

namespace orvex {

ServerError ServerError::refused(NotActivated reason) {
  ServerError e;
  e.kind = Kind::notActivated;
  e.notActivated = reason;
  return e;
}

std::string ServerError::description() const {
  switch (kind) {
    case Kind::notActivated:
      switch (notActivated) {
        case NotActivated::notTargetCountry:
          return "NotActivated.notTargetCountry";
        case NotActivated::notInitialized:
          return "NotActivated.notInitialized";
        case NotActivated::notActive:
          return "NotActivated.notActive";
      }
      break;
    case Kind::status:
      return "Response status code was unacceptable: " + std::to_string(statusCode) + ".";
    case Kind::decoding:
      return "Response could not be decoded: " + message;
    case Kind::transport:
      return "URL request failed: " + message;
  }
  return message;
}

OrvexErrorCode errorCode(const ServerError& error) {
  switch (error.kind) {
    case ServerError::Kind::status:
      return error.statusCode == 401 ? OrvexErrorCode::accountUsageLimitExceeded
                                     : OrvexErrorCode::network;
    case ServerError::Kind::notActivated:
      switch (error.notActivated) {
        case NotActivated::notTargetCountry:
          return OrvexErrorCode::notTargetCountry;
        case NotActivated::notInitialized:
          return OrvexErrorCode::initialize;
        case NotActivated::notActive:
          return OrvexErrorCode::adInactive;
      }
      break;
    case ServerError::Kind::transport:
    case ServerError::Kind::decoding:
      break;
  }
  return OrvexErrorCode::network;
}

}  // namespace orvex
