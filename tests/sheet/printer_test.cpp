// Value printing: readable number formats (the JSON ones show in every golden sheet), JSON
// escapes, and matrices as the host lays them out (leading dimension, missing part arrays,
// embedded elements).
#include "sheet/printer.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

#include "host/embedded.h"
#include "sheet/allocator.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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
  // UTF-8 passes as it is; a byte that starts no character becomes U+FFFD.
  EXPECT_EQ(sheet::jsonString("caf\u00e9 \U0001F600"), "\"caf\u00e9 \U0001F600\"");
  EXPECT_EQ(sheet::jsonString("a\xff\xc3(\xed\xa0\x80"), "\"a\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD\"");
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

  aMatrix* column = matrix(2, 1, true, false, 0);
  column->re[0] = embedded::make(asValue(allocator.string("\u00e9")));
  column->re[1] = embedded::make(asValue(allocator.string("ab")));
  EXPECT_EQ(sheet::readableValue(asValue(column)), "[ \"\u00e9\"]\n[\"ab\"]")
      << "columns are aligned by characters";
}

TEST_F(PrinterValues, WritesValuesNestedToAnyDepth) {
  const int depth = 100000;
  aMatrix* m = matrix(1, 1, true, false, 0);
  for (int level = 1; level < depth; ++level) {
    aMatrix* outer = allocator.matrix(1, 1, true, false);
    outer->re[0] = embedded::make(asValue(m));
    outer->flags |= aMatrix::kNested;
    m = outer;
  }
  const std::string json = sheet::jsonValue(asValue(m));
  const std::string level = R"({"type": "matrix", "rows": 1, "cols": 1, "nested": true, "re": [[)";
  const std::string innermost = R"({"type": "matrix", "rows": 1, "cols": 1, "nested": false, )"
                                R"("re": [[0]], "im": null})";
  const std::string closing = R"(]], "im": null})";
  std::string expected;
  for (int k = 1; k < depth; ++k) expected += level;
  expected += innermost;
  for (int k = 1; k < depth; ++k) expected += closing;
  EXPECT_TRUE(json == expected) << "the JSON of a value " << depth << " levels deep";
  EXPECT_EQ(sheet::readableValue(asValue(m)), "[{1 x 1}]");
}

TEST_F(PrinterValues, StopsWritingALargeValueWhenAsked) {
  aMatrix* large = matrix(300, 300, true, false, 0);
  for (int asksBeforeStop : {0, 2}) {
    SCOPED_TRACE(asksBeforeStop);
    int asks = 0;
    auto stop = [&] { return asks++ >= asksBeforeStop; };
    std::ostringstream json, readable;
    sheet::JsonOutput jsonOutput(json, stop);
    EXPECT_THROW(jsonOutput.value(1, "A", asValue(large)), sheet::Interrupted);
    // Nothing when the first piece was not out yet; otherwise the line begun is ended.
    if (asksBeforeStop == 0) {
      EXPECT_EQ(json.str(), "");
    } else {
      EXPECT_EQ(json.str().rfind(R"({"line": 1, "value": {"type": "matrix", "rows": 300)", 0), 0u);
      EXPECT_EQ(json.str().back(), '\n');
      EXPECT_EQ(json.str().find('\n'), json.str().size() - 1);
    }
    asks = 0;
    sheet::ReadableOutput readableOutput(readable, readable, stop);
    EXPECT_THROW(readableOutput.value(1, "A", asValue(large)), sheet::Interrupted);
  }
}

}  // namespace
