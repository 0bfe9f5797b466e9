// The PNG writer in memory: the picture comes back the same, with a palette when it has few colours.
#include "map/png.hpp"

#include <gtest/gtest.h>
#include <png.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "decode_png.hpp"
#include "map/draw.hpp"

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

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

std::string contents_of(std::FILE* file) {
  std::string bytes(static_cast<std::size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
  return bytes;
}

TEST(Png, MapWrittenBandByBandIsTheWholeMapsPng) {
  // 7 bands of 11 rows and a tail of 2: bands drawn while earlier ones are written, by three threads but
  // the tail's two, and the tally names the three (a warning that threads ran short would be false).
  const Window window = square(79, 1.5);
  std::atomic<int> rows_done{0};
  std::vector<std::uint8_t> rgb;
  const Tally whole = draw(window, rgb, 3, rows_done);
  std::FILE* const expected = std::tmpfile();
  ASSERT_TRUE(write_png(expected, rgb.data(), 79, 79));
  const std::string whole_png = contents_of(expected);

  for (const Path path : {Path::vector, Path::scalar}) {
    std::FILE* const streamed = std::tmpfile();
    std::optional<Tally> banded;
    int bands = 0;
    {
      PngRows png(streamed, 79, 79);
      banded = draw_in_bands(window, 11, 3, rows_done, path, [&](const std::uint8_t* band, int rows) {
        ++bands;
        return png.write(band, rows);
      });
      ASSERT_TRUE(banded.has_value());
      ASSERT_TRUE(png.finish());
    }
    EXPECT_EQ(bands, 8);
    EXPECT_EQ(banded->ends, whole.ends);
    EXPECT_EQ(banded->rows, whole.rows);
    EXPECT_EQ(banded->threads, 3);
    EXPECT_TRUE(contents_of(streamed) == whole_png);
  }
}

}  // namespace
