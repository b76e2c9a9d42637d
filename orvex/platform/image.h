#pragma once
// Images: what an image view shows, and the decoder that makes them from downloaded bytes.

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "orvex/platform/export.h"

namespace orvex {

struct Image {
  int pixelWidth = 0;
  int pixelHeight = 0;
  // The port's decoded pixels; opaque to the core.
  std::shared_ptr<const void> pixels;
};

// Creatives larger than this are broken or hostile files, not ads: a decoder refuses them from
// the header, before allocating anything for the pixels.
inline constexpr int kMaxImageSide = 8192;
inline constexpr std::int64_t kMaxImagePixels = std::int64_t{4096} * 4096;

class ORVEX_API ImageDecoder {
 public:
  virtual ~ImageDecoder() = default;
  // Bytes of a PNG, JPEG or GIF (the first frame); none when they do not decode or exceed the
  // limits above. Safe from any thread: the file cache decodes where a download finishes, off
  // the main thread.
  virtual std::optional<Image> decode(std::string_view bytes) const = 0;
};

}  // namespace orvex
