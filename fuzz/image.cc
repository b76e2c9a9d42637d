// Creative image bytes as the file cache hands them to the port's decoder. What decodes stays
// within the limits and has every pixel the size says.
#include <cstddef>
#include <cstdint>
#include <numeric>

#include "fuzz/fuzz_sdk.h"
#include "ports/linux/image_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const orvex::linux_port::CodecImageDecoder decoder;
  auto image = decoder.decode(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!image) return 0;
  orvex::fuzzing::require(
      image->pixelWidth > 0 && image->pixelHeight > 0 &&
          image->pixelWidth <= orvex::kMaxImageSide && image->pixelHeight <= orvex::kMaxImageSide &&
          std::int64_t{image->pixelWidth} * image->pixelHeight <= orvex::kMaxImagePixels,
      "decoded images stay within the limits");
  // Touch every byte, so that a short buffer shows as an overflow.
  const auto* p = static_cast<const unsigned char*>(image->pixels.get());
  const std::size_t bytes = std::size_t{4} * image->pixelWidth * image->pixelHeight;
  volatile unsigned sum = std::accumulate(p, p + bytes, 0u);
  (void)sum;
  return 0;
}
