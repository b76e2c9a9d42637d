#pragma once
// Image decoding for the headless port.

#include <optional>
#include <string_view>

#include "orvex/platform/image.h"

namespace orvex::headless {

// None when the bytes are not an image of the kinds creatives use, or exceed the limits.
std::optional<Image> decodeImageBytes(std::string_view bytes);

class HeadlessImageDecoder : public ImageDecoder {
 public:
  std::optional<Image> decode(std::string_view bytes) const override {
    return decodeImageBytes(bytes);
  }
};

}  // namespace orvex::headless
