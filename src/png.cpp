// Writing an RGB picture as a PNG file, with libpng.
#include "png.hpp"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstddef>

namespace {

// libpng's own handlers print to standard error; the caller reports a failure in its own words, once.
extern "C" void fail(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
extern "C" void ignore_warning(png_structp /*png*/, png_const_charp /*message*/) {}

}  // namespace

bool write_png(std::FILE* out, const std::uint8_t* rgb, int width, int height) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignore_warning);
  if (png == nullptr) {
    return false;
  }
  png_infop info = png_create_info_struct(png);
  // libpng reports every error by a jump back here; nothing below owns anything that the jump would leak.
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, out);
  // The map is large areas of few colours: the fastest deflate level makes a file little larger than the
  // best, in a small part of the time. Row filters buy little on such rows (a 1024 x 1024 map: 89 kB
  // unfiltered, 85 kB with libpng's choice of filter) and choosing them took two thirds of the time
  // (18 ms against 5.7 ms).
  png_set_compression_level(png, Z_BEST_SPEED);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  for (int i = 0; i < height; ++i) {
    png_write_row(png, rgb + static_cast<std::size_t>(i) * stride);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fflush(out) == 0 && std::ferror(out) == 0;
}
