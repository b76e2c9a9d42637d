#include "ports/linux/image_decoder.h"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace orvex::linux_port {
namespace {

// Every decoder below returns RGBA8 rows in a malloc'd buffer (freed with free) or nullptr, and
// checks the header's dimensions before it allocates anything for the pixels.

bool withinLimits(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width <= static_cast<std::uint64_t>(kMaxImageSide) &&
         height <= static_cast<std::uint64_t>(kMaxImageSide) &&
         width * height <= static_cast<std::uint64_t>(kMaxImagePixels);
}

struct Decoded {
  unsigned char* pixels = nullptr;
  int width = 0;
  int height = 0;
};

// ---- PNG: libpng's simplified API keeps its setjmp and longjmp inside libpng ----------------

Decoded decodePng(const unsigned char* data, std::size_t size) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data, size)) return {};
  if (!withinLimits(image.width, image.height)) {
    png_image_free(&image);
    return {};
  }
  image.format = PNG_FORMAT_RGBA;
  // Untagged 16-bit files are sRGB, as browsers show them, not linear light.
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  auto* pixels = static_cast<unsigned char*>(std::malloc(PNG_IMAGE_SIZE(image)));
  if (!pixels) {
    png_image_free(&image);
    return {};
  }
  // A failed finish frees the image's internal state itself.
  if (!png_image_finish_read(&image, nullptr, pixels, 0, nullptr)) {
    std::free(pixels);
    return {};
  }
  return {pixels, static_cast<int>(image.width), static_cast<int>(image.height)};
}

// ---- JPEG: libjpeg reports errors by longjmp, so decodeJpeg holds no C++ object -------------

// Real progressive files have about ten scans; thousands make decoding quadratic.
constexpr int kMaxJpegScans = 100;

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void jpegFail(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

void jpegCountScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
    jpegFail(cinfo);
  }
}

Decoded decodeJpeg(const unsigned char* data, std::size_t size) {
  jpeg_decompress_struct cinfo;
  JpegErrors errors;
  jpeg_progress_mgr progress;
  unsigned char* volatile pixels = nullptr;
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegFail;
  errors.manager.output_message = jpegQuiet;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::free(pixels);
    return {};
  }
  jpeg_create_decompress(&cinfo);
  progress.progress_monitor = jpegCountScans;
  cinfo.progress = &progress;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK ||
      !withinLimits(cinfo.image_width, cinfo.image_height)) {
    jpeg_destroy_decompress(&cinfo);
    return {};
  }
  cinfo.out_color_space = JCS_EXT_RGBA;
  jpeg_start_decompress(&cinfo);
  const std::size_t stride = std::size_t{cinfo.output_width} * 4;
  pixels = static_cast<unsigned char*>(std::malloc(stride * cinfo.output_height));
  if (!pixels || cinfo.output_components != 4) jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels + stride * cinfo.output_scanline;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) jpegFail(reinterpret_cast<j_common_ptr>(&cinfo));
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return {pixels, static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height)};
}

// ---- GIF: the first frame on a transparent canvas of the logical screen's size --------------

struct GifInput {
  const unsigned char* data;
  std::size_t size;
  std::size_t offset;
};

int readGif(GifFileType* gif, GifByteType* out, int wanted) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  const std::size_t n = std::min(static_cast<std::size_t>(wanted), in->size - in->offset);
  std::memcpy(out, in->data + in->offset, n);
  in->offset += n;
  return static_cast<int>(n);
}

// Draws the frame now under the reader onto `canvas`; false when the data ends early.
bool drawGifFrame(GifFileType* gif, const GraphicsControlBlock& control, unsigned char* canvas,
                  int canvasWidth, int canvasHeight) {
  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* colors = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  if (!colors || frame.Width <= 0 || frame.Height <= 0 ||
      !withinLimits(static_cast<std::uint64_t>(frame.Width),
                    static_cast<std::uint64_t>(frame.Height))) {
    return false;
  }
  auto* line = static_cast<GifPixelType*>(std::malloc(static_cast<std::size_t>(frame.Width)));
  if (!line) return false;
  // Interlaced frames deliver rows in four passes.
  static constexpr int kStart[] = {0, 4, 2, 1};
  static constexpr int kStep[] = {8, 8, 4, 2};
  const int passes = frame.Interlace ? 4 : 1;
  bool ok = true;
  for (int pass = 0; pass < passes && ok; ++pass) {
    const int start = frame.Interlace ? kStart[pass] : 0;
    const int step = frame.Interlace ? kStep[pass] : 1;
    for (int row = start; row < frame.Height; row += step) {
      if (DGifGetLine(gif, line, frame.Width) != GIF_OK) {
        ok = false;
        break;
      }
      const long y = static_cast<long>(frame.Top) + row;
      if (y < 0 || y >= canvasHeight) continue;
      for (int x = 0; x < frame.Width; ++x) {
        const long cx = static_cast<long>(frame.Left) + x;
        const int index = line[x];
        // Indices past the colour table (or the transparent one) leave the canvas clear.
        if (cx < 0 || cx >= canvasWidth || index >= colors->ColorCount ||
            index == control.TransparentColor) {
          continue;
        }
        unsigned char* p = canvas + (static_cast<std::size_t>(y) * canvasWidth + cx) * 4;
        p[0] = colors->Colors[index].Red;
        p[1] = colors->Colors[index].Green;
        p[2] = colors->Colors[index].Blue;
        p[3] = 255;
      }
    }
  }
  std::free(line);
  return ok;
}

Decoded decodeGifFirstFrame(GifFileType* gif) {
  GraphicsControlBlock control;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) != GIF_OK) return {};
    if (record == TERMINATE_RECORD_TYPE) return {};
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) != GIF_OK) return {};
      if (code == GRAPHICS_EXT_FUNC_CODE && block)
        DGifExtensionToGCB(block[0], block + 1, &control);
      while (block) {
        if (DGifGetExtensionNext(gif, &block) != GIF_OK) return {};
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) != GIF_OK) return {};
    // A screen of 0 x 0 (some encoders write it) takes the frame's extent.
    std::int64_t width = gif->SWidth, height = gif->SHeight;
    if (width == 0 || height == 0) {
      width = std::int64_t{gif->Image.Left} + gif->Image.Width;
      height = std::int64_t{gif->Image.Top} + gif->Image.Height;
    }
    if (width <= 0 || height <= 0 ||
        !withinLimits(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height))) {
      return {};
    }
    auto* canvas =
        static_cast<unsigned char*>(std::calloc(static_cast<std::size_t>(width * height), 4));
    if (!canvas) return {};
    if (!drawGifFrame(gif, control, canvas, static_cast<int>(width), static_cast<int>(height))) {
      std::free(canvas);
      return {};
    }
    return {canvas, static_cast<int>(width), static_cast<int>(height)};
  }
}

Decoded decodeGif(const unsigned char* data, std::size_t size) {
  GifInput input{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&input, readGif, &error);
  if (!gif) return {};
  Decoded decoded;
  // The logical screen is known from the header: refuse a huge one before reading further.
  if (withinLimits(static_cast<std::uint64_t>(std::max(gif->SWidth, 1)),
                   static_cast<std::uint64_t>(std::max(gif->SHeight, 1)))) {
    decoded = decodeGifFirstFrame(gif);
  }
  DGifCloseFile(gif, &error);
  return decoded;
}

bool startsWith(std::string_view bytes, std::string_view signature) {
  return bytes.substr(0, signature.size()) == signature;
}

}  // namespace

std::optional<Image> decodeImageBytes(std::string_view bytes) {
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  Decoded decoded;
  if (startsWith(bytes, "\x89PNG\r\n\x1a\n")) {
    decoded = decodePng(data, bytes.size());
  } else if (startsWith(bytes, "\xFF\xD8\xFF")) {
    decoded = decodeJpeg(data, bytes.size());
  } else if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) {
    decoded = decodeGif(data, bytes.size());
  }
  if (!decoded.pixels) return std::nullopt;
  Image image;
  image.pixelWidth = decoded.width;
  image.pixelHeight = decoded.height;
  image.pixels = std::shared_ptr<const void>(
      decoded.pixels, [](const void* p) { std::free(const_cast<void*>(p)); });
  return image;
}

}  // namespace orvex::linux_port
