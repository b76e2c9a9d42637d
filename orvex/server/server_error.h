#pragma once
// The one error type of the server layer and its mapping to public codes.

#include <string>

#include "orvex/core/codes.h"
#include "orvex/platform/http.h"

namespace orvex {

// One failed exchange, or a request refused before it was sent.
struct ORVEX_API ServerError {
  enum class Kind { notActivated, transport, status, decoding };
  Kind kind = Kind::transport;
  NotActivated notActivated = NotActivated::notInitialized;  // kind notActivated
  HttpError::Kind transport = HttpError::Kind::other;        // kind transport
  int statusCode = 0;                                        // kind status
  std::string message;

  static ServerError refused(NotActivated reason);
  // A readable text for log lines ("remote config failed. " + this).
  std::string description() const;
};

// The public code a failure is reported as.
ORVEX_API OrvexErrorCode errorCode(const ServerError& error);

}  // namespace orvex
