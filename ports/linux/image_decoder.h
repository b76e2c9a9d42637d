#pragma once
// Image decoding for both Linux ports (PNG, JPEG, GIF through their reference libraries), safe
// from any thread.

#include <optional>
#include <string_view>

#include "orvex/platform/image.h"

namespace orvex::linux_port {

// None when the bytes are not an image of the kinds creatives use, or exceed the limits.
std::optional<Image> decodeImageBytes(std::string_view bytes);

class ORVEX_API CodecImageDecoder : public ImageDecoder {
 public:
  std::optional<Image> decode(std::string_view bytes) const override {
    return decodeImageBytes(bytes);
  }
};

}  // namespace orvex::linux_port
