// A PNG read back as 8-bit RGB, for the tests that compare pixels.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

struct Decoded {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes a pixel, row-major from the top left; empty if unreadable
};

inline Decoded decode_png(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, png.data(), png.size()) == 0) {
    ADD_FAILURE() << image.message;
    return {};
  }
  image.format = PNG_FORMAT_RGB;
  Decoded d{image.width, image.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  if (png_image_finish_read(&image, nullptr, d.rgb.data(), 0, nullptr) == 0) {
    ADD_FAILURE() << image.message;
    return {};
  }
  return d;
}
