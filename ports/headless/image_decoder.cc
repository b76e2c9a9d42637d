#include "ports/headless/image_decoder.h"

#include <stb/stb_image.h>

#include <climits>
#include <cstdint>
#include <cstdlib>

namespace orvex::headless {

std::optional<Image> decodeImageBytes(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  const int length = static_cast<int>(bytes.size());
  int width = 0, height = 0, channels = 0;
  // Header first: refuse huge dimensions before allocating for them.
  if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return std::nullopt;
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
      std::int64_t{width} * height > kMaxImagePixels) {
    return std::nullopt;
  }
  stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &channels, 4);
  if (!pixels) return std::nullopt;
  Image image;
  image.pixelWidth = width;
  image.pixelHeight = height;
  image.pixels = std::shared_ptr<const void>(
      pixels, [](const void* p) { stbi_image_free(const_cast<void*>(p)); });
  return image;
}

}  // namespace orvex::headless
