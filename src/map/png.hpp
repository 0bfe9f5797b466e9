// Writing an RGB picture as a PNG: to a file, or into memory for the explorer's tiles.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct png_struct_def;  // libpng's, kept out of this header
struct png_info_def;

namespace muller::map {

// An RGB picture written to a file as a PNG a band of rows at a time, from the top, so that the whole
// picture need never be in memory; the bytes are those write_png writes for the same picture.
class PngRows {
 public:
  // Starts the PNG of width x height pixels on out.
  PngRows(std::FILE* out, int width, int height);
  ~PngRows();
  PngRows(const PngRows&) = delete;
  PngRows& operator=(const PngRows&) = delete;
  // Writes the next rows (3 bytes a pixel, row-major). False if libpng or the stream failed now or
  // before; the stream's error state and errno then tell why.
  bool write(const std::uint8_t* rgb, int rows);
  // Ends the PNG after its last row and flushes the stream; false as write().
  bool finish();

 private:
  png_struct_def* png_ = nullptr;
  png_info_def* info_ = nullptr;
  std::FILE* out_;
  bool failed_ = false;
};

// Writes width x height pixels of 8-bit RGB (row-major from the top left, 3 bytes a pixel) to out as a
// PNG. Returns false if libpng or the stream failed; the stream's error state and errno then tell why.
bool write_png(std::FILE* out, const std::uint8_t* rgb, int width, int height);

// The same picture as PNG bytes, appended to out. A picture of at most 256 colours (a map has at most
// 69: four hues in 17 shades, and black) is written with a palette, one byte a pixel, which decodes to
// exactly the same RGB in a third of the data and a fraction of the time. Returns false if libpng
// failed (it ran out of memory); out then holds a partial PNG.
bool encode_png(std::string& out, const std::uint8_t* rgb, int width, int height);

}  // namespace muller::map
