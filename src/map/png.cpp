// Writing an RGB picture as a PNG, with libpng: to a file a band of rows at a time, or into memory.
#include "map/png.hpp"

#include <png.h>
#include <zlib.h>

#include <array>
#include <csetjmp>
#include <cstddef>
#include <new>
#include <vector>

namespace muller::map {

namespace {

// libpng's own handlers print to standard error; the caller reports a failure in its own words, once.
extern "C" void fail(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
extern "C" void ignore_warning(png_structp /*png*/, png_const_charp /*message*/) {}

extern "C" void append(png_structp png, png_bytep data, png_size_t length) {
  bool appended = true;
  try {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
  } catch (const std::bad_alloc&) {
    appended = false;  // no exception may cross libpng's C frames: it fails by its own jump instead
  }
  if (!appended) {
    png_error(png, "out of memory");
  }
}
extern "C" void flush_nothing(png_structp /*png*/) {}

// A picture's colours as a palette and one index a pixel.
struct Indexed {
  std::vector<png_color> palette;
  std::vector<std::uint8_t> pixels;
};

// Whether the picture has at most 256 colours; if so, fills indexed. Neighbouring pixels mostly share
// their colour, so the last one is tried first; the others go through a small open-addressed table.
bool index_colours(const std::uint8_t* rgb, std::size_t count, Indexed& indexed) {
  constexpr std::size_t slots = 1024;          // a power of two, four times the largest palette
  constexpr std::uint32_t empty = 0xffffffff;  // no colour has its top byte set
  std::array<std::uint32_t, slots> keys;
  std::array<std::uint8_t, slots> values{};
  keys.fill(empty);
  indexed.palette.clear();
  indexed.pixels.resize(count);
  std::uint32_t last_key = empty;
  std::uint8_t last_index = 0;
  for (std::size_t p = 0; p < count; ++p, rgb += 3) {
    const std::uint32_t key = std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
    if (key != last_key) {
      std::size_t slot = (key * 0x9e3779b1u) >> 22;  // the top 10 bits of a multiplicative hash
      while (keys[slot] != key && keys[slot] != empty) {
        slot = (slot + 1) & (slots - 1);
      }
      if (keys[slot] == empty) {
        if (indexed.palette.size() == 256) {
          return false;
        }
        keys[slot] = key;
        values[slot] = static_cast<std::uint8_t>(indexed.palette.size());
        indexed.palette.push_back({rgb[0], rgb[1], rgb[2]});
      }
      last_key = key;
      last_index = values[slot];
    }
    indexed.pixels[p] = last_index;
  }
  return true;
}

// The settings every PNG here is written with, then its header; for a palette picture when indexed
// is given, else for RGB.
void start(png_structp png, png_infop info, int width, int height, const Indexed* indexed) {
  // The map is large areas of few colours: the fastest deflate level makes a file little larger than the
  // best, in a small part of the time. Row filters buy little on such rows (a 1024 x 1024 map: 89 kB
  // unfiltered, 85 kB with libpng's choice of filter) and choosing them took two thirds of the time
  // (18 ms against 5.7 ms).
  png_set_compression_level(png, Z_BEST_SPEED);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  const auto w = static_cast<png_uint_32>(width);
  const auto h = static_cast<png_uint_32>(height);
  if (indexed != nullptr) {
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, indexed->palette.data(), static_cast<int>(indexed->palette.size()));
    // Unfiltered palette indices are runs of one index, and deflate's search for runs alone took 0.2 to
    // 0.6 ms a 256 x 256 tile where its full search took 0.2 to 1.2 ms, for tiles of about the same size
    // (the largest a tenth smaller).
    png_set_compression_strategy(png, Z_RLE);
  } else {
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
  }
  png_write_info(png, info);
}

void write_rows(png_structp png, const std::uint8_t* rows, std::size_t stride, int count) {
  for (int i = 0; i < count; ++i) {
    png_write_row(png, rows + static_cast<std::size_t>(i) * stride);
  }
}

// Appends the picture to memory, as RGB or from indexed when given. Nothing here owns anything that
// libpng's jump back on an error would leak.
bool encode(std::string& memory, const std::uint8_t* rgb, int width, int height, const Indexed* indexed) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignore_warning);
  if (png == nullptr) {
    return false;
  }
  png_infop info = png_create_info_struct(png);
  // libpng reports every error by a jump back here.
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &memory, append, flush_nothing);
  start(png, info, width, height, indexed);
  if (indexed != nullptr) {
    write_rows(png, indexed->pixels.data(), static_cast<std::size_t>(width), height);
  } else {
    write_rows(png, rgb, static_cast<std::size_t>(width) * 3, height);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

// Each call into libpng sets its jump back, since libpng reports every error by a jump; nothing between
// owns anything that the jump would leak.
PngRows::PngRows(std::FILE* out, int width, int height) : out_(out) {
  png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignore_warning);
  if (png_ != nullptr) {
    info_ = png_create_info_struct(png_);
  }
  if (info_ == nullptr || setjmp(png_jmpbuf(png_)) != 0) {
    failed_ = true;
    return;
  }
  png_init_io(png_, out);
  start(png_, info_, width, height, nullptr);
}

PngRows::~PngRows() { png_destroy_write_struct(&png_, &info_); }

bool PngRows::write(const std::uint8_t* rgb, int rows) {
  if (failed_ || setjmp(png_jmpbuf(png_)) != 0) {
    failed_ = true;
    return false;
  }
  write_rows(png_, rgb, png_get_rowbytes(png_, info_), rows);
  return std::ferror(out_) == 0;
}

bool PngRows::finish() {
  if (failed_ || setjmp(png_jmpbuf(png_)) != 0) {
    failed_ = true;
    return false;
  }
  png_write_end(png_, nullptr);
  return std::fflush(out_) == 0 && std::ferror(out_) == 0;
}

bool write_png(std::FILE* out, const std::uint8_t* rgb, int width, int height) {
  PngRows png(out, width, height);
  return png.write(rgb, height) && png.finish();
}

bool encode_png(std::string& out, const std::uint8_t* rgb, int width, int height) {
  Indexed indexed;
  const bool few_colours =
      index_colours(rgb, static_cast<std::size_t>(width) * static_cast<std::size_t>(height), indexed);
  return encode(out, rgb, width, height, few_colours ? &indexed : nullptr);
}

}  // namespace muller::map
