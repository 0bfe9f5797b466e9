// The PNG writer in memory: the picture comes back the same, with a palette when it has few colours.
#include "png.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(Png, EncodesInMemoryWhatDecodesToTheSamePixels) {
  const struct {
    int colours;
    png_byte colour_type;  // a palette up to 256 colours, RGB past them
  } cases[] = {{1, PNG_COLOR_TYPE_PALETTE},
               {69, PNG_COLOR_TYPE_PALETTE},
               {256, PNG_COLOR_TYPE_PALETTE},
               {257, PNG_COLOR_TYPE_RGB}};
  const int width = 40;
  const int height = 30;
  for (const auto& c : cases) {
    std::vector<std::uint8_t> rgb;
    for (int p = 0; p < width * height; ++p) {
      const int k = p * 7 % c.colours;  // colours in no simple order, some in runs
      rgb.insert(rgb.end(), {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
                             static_cast<std::uint8_t>(255 - k % 256)});
    }
    std::string png = "kept";
    ASSERT_TRUE(encode_png(png, rgb.data(), width, height));
    ASSERT_EQ(png.compare(0, 4, "kept"), 0);  // appended to what was there
    png.erase(0, 4);
    EXPECT_EQ(static_cast<png_byte>(png[25]), c.colour_type) << c.colours;  // IHDR's colour type byte
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_memory(&image, png.data(), png.size()), 0) << image.message;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> decoded(PNG_IMAGE_SIZE(image));
    ASSERT_NE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr), 0) << image.message;
    EXPECT_EQ(image.width, static_cast<png_uint_32>(width));
    EXPECT_TRUE(decoded == rgb) << c.colours;
  }
}

}  // namespace
