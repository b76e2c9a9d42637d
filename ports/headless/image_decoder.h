#pragma once
// Image decoding for the headless port (PNG, JPEG, GIF and the other formats stb_image reads).

#include <optional>
#include <string>

#include "orvex/platform/view.h"

namespace orvex::headless {

// None when the bytes are not an image of those kinds, or absurdly large.
std::optional<Image> decodeImageBytes(const std::string& bytes);

}  // namespace orvex::headless
