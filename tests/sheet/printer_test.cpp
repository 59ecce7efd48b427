// Value printing: number formats, JSON escapes, and matrices as the host lays them out
// (leading dimension, missing part arrays, embedded elements).
#include "sheet/printer.h"

#include <gtest/gtest.h>

#include <limits>

#include "host/embedded.h"
#include "sheet/allocator.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Printer, WritesJsonNumbersWithSeventeenDigits) {
  const std::pair<double, const char*> cases[] = {
      {2, "2"},
      {-0.0015, "-0.0015"},
      {0.1, "0.10000000000000001"},
      {1e300, "1.0000000000000001e+300"},
      {kNaN, "\"NaN\""},
      {kInf, "\"Infinity\""},
      {-kInf, "\"-Infinity\""},
  };
  for (const auto& [x, text] : cases) EXPECT_EQ(sheet::jsonNumber(x), text);
}

TEST(Printer, WritesReadableNumbersInTheirShortestForm) {
  struct Case {
    double re, im;
    const char* text;
  };
  const Case cases[] = {
      {1.5, 0, "1.5"},
      {0.1, 0, "0.1"},
      {2, -3, "2 - 3i"},
      {2, 0.5, "2 + 0.5i"},
      {0, -0.5, "-0.5i"},
      {0, 1, "1i"},
      {-kInf, 0, "-Infinity"},
      {kNaN, 0, "NaN"},
      {1, kNaN, "1 + NaNi"},
      {1e21, 0, "1e+21"},
      {0.3 - 0.1, 0, "0.19999999999999998"},
  };
  for (const Case& c : cases) EXPECT_EQ(sheet::readableComplex(c.re, c.im), c.text);
}

TEST(Printer, EscapesJsonStrings) {
  EXPECT_EQ(sheet::jsonString("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(sheet::jsonString("tab\tline\nend\x01"), R"("tab\tline\nend\u0001")");
}

class PrinterValues : public ::testing::Test {
 protected:
  // A rows x cols matrix whose element (i, j) is 10 i + j, with a gap of NaNs below each
  // column when ld > rows.
  aMatrix* matrix(int rows, int cols, bool re, bool im, int ld) {
    aMatrix* m = allocator.matrix(rows, cols, re, im, ld);
    for (int j = 0; j < cols; ++j) {
      for (int i = 0; i < m->ld; ++i) {
        const double x = i < rows ? 10.0 * i + j : kNaN;
        if (re) m->re[i + j * m->ld] = x;
        if (im) m->im[i + j * m->ld] = 0 - x;
      }
    }
    return m;
  }

  sheet::Allocator allocator;
};

TEST_F(PrinterValues, ReadsMatricesThroughTheirLeadingDimension) {
  aMatrix* m = matrix(2, 2, true, false, 3);
  EXPECT_EQ(sheet::jsonValue(asValue(m)),
            R"({"type": "matrix", "rows": 2, "cols": 2, "nested": false, )"
            R"("re": [[0, 1], [10, 11]], "im": null})");
  EXPECT_EQ(sheet::readableValue(asValue(m)), "[ 0   1]\n[10  11]");

  aMatrix* imaginary = matrix(1, 2, false, true, 2);
  EXPECT_EQ(sheet::jsonValue(asValue(imaginary)),
            R"({"type": "matrix", "rows": 1, "cols": 2, "nested": false, )"
            R"("re": null, "im": [[0, -1]]})");
  EXPECT_EQ(sheet::readableValue(asValue(imaginary)), "[0  -1i]");
}

TEST_F(PrinterValues, ShowsEmbeddedElementsAsTheirOwnValues) {
  aMatrix* inner = matrix(2, 1, true, false, 0);
  aMatrix* m = matrix(1, 3, true, true, 0);
  m->re[0] = embedded::make(asValue(allocator.string("k")));
  m->re[1] = embedded::make(asValue(inner));
  m->flags |= aMatrix::kNested;
  EXPECT_EQ(sheet::jsonValue(asValue(m)),
            R"({"type": "matrix", "rows": 1, "cols": 3, "nested": true, "re": [[)"
            R"({"type": "string", "text": "k"}, )"
            R"({"type": "matrix", "rows": 2, "cols": 1, "nested": false, "re": [[0], [10]], )"
            R"("im": null}, 2]], "im": [[0, 0, -2]]})");
  EXPECT_EQ(sheet::readableValue(asValue(m)), "[\"k\"  {2 x 1}  2 - 2i]");
}

}  // namespace
