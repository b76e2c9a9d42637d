// Image decoding (orvex/platform/image.h): PNG, JPEG and a GIF's first frame to RGBA, on any
// thread; broken files and sizes beyond the limits are refused from the header.
#include <png.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include <jpeglib.h>

#include "orvex/core/crypto.h"
#include "tests/conformance/port_harness.h"

namespace orvex::conformance {
namespace {

using Pixels = std::vector<std::uint8_t>;

Pixels pixelsOf(const Image& image) {
  const auto* p = static_cast<const std::uint8_t*>(image.pixels.get());
  return Pixels(p, p + std::size_t{4} * image.pixelWidth * image.pixelHeight);
}

std::string bigEndian(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string chunk(const std::string& type, const std::string& data) {
  return bigEndian(static_cast<std::uint32_t>(data.size())) + type + data +
         bigEndian(crc32(type + data));
}

// A PNG whose header is valid (checksums included) but whose image data is a stub.
std::string pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  const std::string ihdr = bigEndian(width) + bigEndian(height) + std::string("\x08\x06\0\0\0", 5);
  return "\x89PNG\r\n\x1a\n" + chunk("IHDR", ihdr) + chunk("IDAT", std::string(12, '\0')) +
         chunk("IEND", "");
}

std::string encodePng(int width, int height, const Pixels& rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  EXPECT_TRUE(png_image_write_get_memory_size(image, size, 0, rgba.data(), 0, nullptr));
  std::string out(size, '\0');
  EXPECT_TRUE(png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr));
  out.resize(size);
  return out;
}

std::string encodeJpeg(int width, int height, const Pixels& rgb) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(rgb.data()) + 3 * width * cinfo.next_scanline;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string out(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

class Images : public PortTest {
 protected:
  // Decodes on a global queue, as the file cache does where a download finishes.
  std::optional<Image> decodeImageBytes(const std::string& bytes) {
    std::optional<Image> image;
    std::atomic<bool> done{false};
    port().dispatcher().globalQueue(QueuePriority::utility)->post([&] {
      image = port().platform().images->decode(bytes);
      done = true;
    });
    EXPECT_TRUE(port().runUntil([&] { return done.load(); }));
    return image;
  }
};
ORVEX_CONFORMANCE_AREA(Images);

TEST_P(Images, RefusesHostileFilesAndSizesBeyondTheLimitsFromTheHeader) {
  const std::string refused[] = {
      // Formats creatives do not use, whatever their header claims.
      std::string("\x50\x35\x32\x0c\x35\x0c\x35\x32\x32\x50", 10),
      std::string("P6\n16384 16384\n255\n\xff\xff\xff", 22),
      std::string("\0\0\x0a\0\0\0\0\0\0\0\0\0\x20\x20\x20\x20\x18\0", 18) + std::string(32, '\xff'),
      // 2 GiB of pixels, 69 bytes of file.
      pngHeaderOnly(23170, 23170),
      pngHeaderOnly(kMaxImageSide + 1, 1),
      pngHeaderOnly(kMaxImageSide, kMaxImagePixels / kMaxImageSide + 1),
      // Within the limits, but the data ends long before the pixels do.
      pngHeaderOnly(4096, 4096),
      std::string("GIF89a\x01\x20\x01\x20\x80\0\0\0\0\0\xff\xff\xff;", 20),
      "\xFF\xD8\xFF",
      "",
  };
  for (const auto& bytes : refused) EXPECT_FALSE(decodeImageBytes(bytes)) << bytes.size();
  EXPECT_EQ(pngHeaderOnly(23170, 23170).size(), 69u);
}

TEST_P(Images, DecodesPngJpegAndTheFirstGifFrameToRgba) {
  std::ifstream file(std::string(ORVEX_SOURCE_DIR) + "/tools/adserver/fixtures/static/banner.png",
                     std::ios::binary);
  std::stringstream fixture;
  fixture << file.rdbuf();
  auto banner = decodeImageBytes(fixture.str());
  ASSERT_TRUE(banner);
  EXPECT_EQ(pixelsOf(*banner), (Pixels{0x1e, 0x78, 0xdc, 0xff}));

  // Rows in order, channels in order, alpha kept as it is.
  const Pixels rgba = {1, 2, 3, 255, 40, 50, 60, 128, 200, 0,   0,   0,
                       0, 0, 9, 10,  11, 12, 13, 14,  255, 255, 255, 255};
  auto png = decodeImageBytes(encodePng(3, 2, rgba));
  ASSERT_TRUE(png);
  EXPECT_EQ(std::pair(png->pixelWidth, png->pixelHeight), std::pair(3, 2));
  EXPECT_EQ(pixelsOf(*png), rgba);

  // Red on the left, blue on the right; lossy, so compared loosely.
  Pixels rgb;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 24; ++x) {
      const std::uint8_t red = x < 8 ? 255 : 0;
      rgb.insert(rgb.end(), {red, 0, static_cast<std::uint8_t>(255 - red)});
    }
  auto jpeg = decodeImageBytes(encodeJpeg(24, 16, rgb));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(std::pair(jpeg->pixelWidth, jpeg->pixelHeight), std::pair(24, 16));
  const Pixels jpegPixels = pixelsOf(*jpeg);
  auto near = [&](int x, int y, Pixels want) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_NEAR(jpegPixels[(y * 24 + x) * 4 + c], want[c], 12) << x << "," << y << " " << c;
    }
  };
  near(2, 8, {255, 0, 0, 255});
  near(20, 8, {0, 0, 255, 255});

  // A 3x9 screen with an interlaced 2x8 frame at (1, 1): frame row r holds colour r % 4, and
  // colour 3 is transparent.
  const std::string gif(
      "GIF89a\x03\x00\x09\x00\x91\x00\x00\xff\x00\x00\x00\xff\x00\x00\x00\xff\x09\x09\x09\x21\xf9"
      "\x04\x01\x00\x00\x03\x00\x2c\x01\x00\x01\x00\x02\x00\x08\x00\x40\x02\x07\x84\x21\x29\x11"
      "\x33\xec\x0a\x00\x3b",
      54);
  auto frame = decodeImageBytes(gif);
  ASSERT_TRUE(frame);
  EXPECT_EQ(std::pair(frame->pixelWidth, frame->pixelHeight), std::pair(3, 9));
  const Pixels palette[] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {0, 0, 0, 0}};
  Pixels expected;
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 3; ++x) {
      const Pixels& p = (y == 0 || x == 0) ? palette[3] : palette[(y - 1) % 4];
      expected.insert(expected.end(), p.begin(), p.end());
    }
  }
  EXPECT_EQ(pixelsOf(*frame), expected);
}

}  // namespace
}  // namespace orvex::conformance
