// The LU routines called directly: the outcomes the pivoting rules fix exactly (ties,
// scaling, pivot numbering, sign, the near-singularity test) and every message of the
// factorisations, substitutions and solves.
#include "linalg/lu.h"
#include "pack/fpguard.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;
using testsupport::Rows;

class LuCore : public LinalgTest {
 protected:
  // The numbers as a real matrix, or as a complex one with zero imaginary parts.
  aMatrix* matrix(Rows rows, bool complex) {
    aMatrix* m = values.matrix(rows);
    if (complex) m->im = host.allocator.matrix(m->rows, m->cols, true, false)->re;
    return m;
  }
};

// 1/2 + 2^-53 leaves a second pivot of 2^-53, below epsilon times the growth (1).
constexpr double kNearlyHalf = 0.5 + 0x1p-53;

TEST_F(LuCore, PivotsSignAndMessagesOfBothFactorisations) {
  const struct {
    const char* what;
    Rows a;
    bool check;
    std::vector<double> pivots;  // lud's, 0-based; clud's are given 1-based
    double sign;
    const char* message;
    std::vector<double> cludPivots;
    double cludSign;
    const char* cludMessage;
  } cases[] = {
      // Equal candidates: lud takes the last, clud the first.
      {"tie", {{1, 2}, {1, 2}}, false, {1}, -1, "singular matrix", {1}, 1, "singular matrix"},
      // Column 0 alone would pick 10; relative to their rows 2/2 beats 10/100.
      {"scaled", {{2, 1}, {10, 100}}, false, {0, 1}, 1, nullptr, {1, 2}, 1, nullptr},
      {"exchange", {{0, 1}, {1, 0}}, false, {1, 1}, -1, nullptr, {2, 2}, -1, nullptr},
      {"two exchanges",
       {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
       false,
       {1, 2, 2},
       1,
       nullptr,
       {2, 3, 3},
       1,
       nullptr},
      {"1 x 1", {{5}}, false, {0}, 1, nullptr, {1}, 1, nullptr},
      {"1 x 1 zero", {{0}}, false, {}, 1, "singular matrix", {}, 1, "singular matrix"},
      {"zero row", {{1, 2}, {0, 0}}, false, {}, 1, "singular matrix", {}, 1, "singular matrix"},
      {"2 x 3", {{1, 2, 3}, {4, 5, 6}}, false, {}, 1, "must be square", {}, 1, "must be square"},
      {"tiny pivot", {{1, 1}, {0.5, kNearlyHalf}}, false, {0, 1}, 1, nullptr, {1, 2}, 1, nullptr},
      {"tiny pivot, check",
       {{1, 1}, {0.5, kNearlyHalf}},
       true,
       {0, 1},
       1,
       "singular matrix",
       {1, 2},
       1,
       "singular matrix"},
      // A small first pivot against later growth: only clud tests the first diagonal entry.
      {"small first pivot, check",
       {{1, 0, 0}, {0, 1e16, 1e16}, {0, 0, 1e16}},
       true,
       {0, 1, 2},
       1,
       nullptr,
       {1, 2, 3},
       1,
       "singular matrix"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> pivots(3, -1.0);
    double sign = 0.0;
    aMatrix* a = matrix(c.a, false);
    const Dense original = fromHost(a);
    EXPECT_STREQ(lud(a, pivots.data(), &sign, c.check), c.message);
    EXPECT_EQ(std::vector<double>(pivots.begin(), pivots.begin() + c.pivots.size()), c.pivots);
    EXPECT_EQ(sign, c.sign);
    if (c.pivots.empty()) {
      EXPECT_EQ(fromHost(a).a, original.a) << "refused before any elimination";
    }

    EXPECT_STREQ(clud(matrix(c.a, true), pivots.data(), sign, c.check), c.cludMessage);
    EXPECT_EQ(std::vector<double>(pivots.begin(), pivots.begin() + c.cludPivots.size()),
              c.cludPivots);
    EXPECT_EQ(sign, c.cludSign);
  }
}

TEST_F(LuCore, MissingPartsEmptyMatricesAndOverflow) {
  double pivots[2], sign;
  EXPECT_STREQ(lud(values.matrix({}, {{1}}), pivots, &sign, false), "PPnullPtr");
  EXPECT_STREQ(clud(values.matrix({}, {{1}}), pivots, sign, false), "Unknown error");
  EXPECT_STREQ(lud(host.allocator.matrix(0, 0, true, true), pivots, &sign, false),
               "invalid dimension");
  EXPECT_STREQ(clud(host.allocator.matrix(0, 0, true, true), pivots, sign, false),
               "invalid dimension");
  EXPECT_THROW(
      clud(values.matrix({{1.5e308, 1}, {1, 1}}, {{1.5e308, 0}, {0, 0}}), pivots, sign, false),
      SE_FPEOverflow_Exception);
}

TEST_F(LuCore, ComplexSubstitutionReadsAMissingPartAsZerosAndRefusesAZeroPivot) {
  double pivots[] = {1, 2};
  aMatrix* x = matrix({{4}}, true);
  ASSERT_EQ(clud_subst(values.matrix({}, {{2}}), pivots, x), nullptr);
  EXPECT_EQ(fromHost(x).a, (std::vector<Complex>{Complex(0, -2)})) << "4 / 2i";
  EXPECT_STREQ(clud_subst(matrix({{1, 0}, {0, 0}}, true), pivots, matrix({{1}, {2}}, true)),
               "singular matrix");
  EXPECT_STREQ(clud_subst(matrix({{1, 0}, {0, 1}}, true), pivots, matrix({{1}}, true)),
               "array size mismatch");
}

}  // namespace
