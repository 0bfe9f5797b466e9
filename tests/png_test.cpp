// The PNG writer in memory: the picture comes back the same, with a palette when it has few colours.
#include "png.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode_png.hpp"

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
    const Decoded decoded = decode_png(png);
    EXPECT_EQ(decoded.width, static_cast<unsigned>(width));
    EXPECT_TRUE(decoded.rgb == rgb) << c.colours;
  }
}

}  // namespace
