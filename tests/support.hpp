// Test helpers: the expected report, one search run with its report captured, and the rules that every
// report and status must keep.
#pragma once

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "report/report.hpp"

using namespace muller::report;  // NOLINT(google-build-using-namespace)

// A double's bits, NaN's sign and payload included, for comparisons that == cannot make.
inline std::uint64_t bits(double x) {
  std::uint64_t u = 0;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

inline std::string read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Each line without its '\n'; a text that does not end in '\n' keeps its last piece as a line.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
  }
  return lines;
}

inline std::vector<std::string> expected_report() { return lines_of(read_file(EXPECTED_REPORT)); }

struct Search {
  int status;
  std::vector<std::string> lines;
};

// One search with std::cout sent to a string, as a caller that captures the report would do it.
inline Search run_search(std::complex<double> x0, std::complex<double> x1) {
  std::ostringstream report;
  std::streambuf* const saved = std::cout.rdbuf(report.rdbuf());
  const int status = muller::report::muller(x0, x1);
  std::cout.rdbuf(saved);
  return {status, lines_of(report.str())};
}

inline std::string row_prefix(int k) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%10d   ", k);
  return prefix;
}

inline bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// A report has two header lines, rows numbered from 1 and at most 99 of them, and one closing line: the
// summary with the row count, or the failure line. Status 0 is given exactly when the summary shows a
// finite point and a finite residual.
inline void expect_well_formed(const Search& s) {
  ASSERT_GE(s.lines.size(), 4u);
  EXPECT_EQ(s.lines[0], "    Metodo Muller");
  EXPECT_EQ(s.lines[1], " iteracion             x    f(x)  ");
  const int rows = static_cast<int>(s.lines.size()) - 3;
  EXPECT_LE(rows, 99);
  for (int k = 1; k <= rows; ++k) {
    EXPECT_TRUE(starts_with(s.lines[static_cast<std::size_t>(k) + 1], row_prefix(k)))
        << "row " << k << ": " << s.lines[static_cast<std::size_t>(k) + 1];
  }
  const std::string& last = s.lines.back();
  if (last == " numero maximo de iteraciones excedido en muller") {
    EXPECT_EQ(rows, 99);
    EXPECT_EQ(s.status, 1);
    return;
  }
  const std::string summary = "muller       " + std::to_string(rows) + "  iteraciones   raiz= (";
  ASSERT_TRUE(starts_with(last, summary)) << last;
  const bool finite = last.find("nan") == std::string::npos && last.find("inf") == std::string::npos;
  EXPECT_EQ(s.status, finite ? 0 : 1) << last;
}
