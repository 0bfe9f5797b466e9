// Writing an RGB picture as a PNG file.
#pragma once

#include <cstdint>
#include <cstdio>

// Writes width x height pixels of 8-bit RGB (row-major from the top left, 3 bytes a pixel) to out as a
// PNG. Returns false if libpng or the stream failed; the stream's error state and errno then tell why.
bool write_png(std::FILE* out, const std::uint8_t* rgb, int width, int height);
