// The map on the vector units: many searches side by side, one per lane, each computing what the scalar
// search computes, bit for bit.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "map/draw.hpp"

namespace muller::map {

// Draws the rows of window that next_row hands out (each taken by fetch_add, until it passes the last
// row) into rgb and tally, as draw() does with outcome() and colour(), and counts finished rows in
// rows_done. Each lane of the vector units follows one search on the plain path of the scalar search;
// where a lane leaves it (a NaN or an infinity, a comparison of moduli too close to call from squared
// norms, a quotient or square root that needs its rare scalings), its hardware vector takes that step
// again on every value as the scalar search does, so every pixel is what outcome() gives.
void draw_rows_vector(const Window& window, std::atomic<int>& next_row, std::uint8_t* rgb, Tally& tally,
                      std::atomic<int>& rows_done);

// The instruction set that draw_rows_vector uses on this processor, such as "AVX3" or "NEON"; nullptr
// where it has none but Highway's one-lane or emulated fallbacks, which are slower than the scalar
// search, and draw() then runs that.
const char* vector_target();

// The searches draw_rows_vector runs side by side in one thread on this processor (hardware vectors
// of a lane group times their lanes), for its benchmarks.
int vector_lanes();

// Every vector instruction set compiled into draw_rows_vector that this processor runs, the best first,
// for tests that compare each with the scalar search; and a way to make one of them the one used
// (0 undoes it).
std::vector<long long> vector_targets();
const char* target_name(long long target);
void use_vector_target(long long target);

}  // namespace muller::map
