// The LU routines called directly: the outcomes the pivoting rules fix exactly (ties,
// scaling, the near-singularity test, pivot numbering and sign), and every message of the
// factorisations, substitutions and solves.
#include <cmath>
#include <functional>

#include "linalg/lu.h"
#include "pack/fpguard.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;
using testsupport::Rows;

class LuCore : public LinalgTest {
 protected:
  aMatrix* real(Rows rows, int ld = 0) { return values.matrix(rows, {}, ld); }
  // The same numbers as a complex matrix (zero imaginary parts).
  aMatrix* complex(Rows rows) {
    aMatrix* m = values.matrix(rows);
    m->im = host.allocator.matrix(m->rows, m->cols, true, false)->re;
    return m;
  }

  struct Outcome {
    const char* message;
    std::vector<double> pivots;
    double sign;
  };
  Outcome factorReal(aMatrix* a, bool check = false) {
    Outcome o{nullptr, std::vector<double>(std::max(a->rows, 1)), 0.0};
    o.message = lud(a, o.pivots.data(), &o.sign, check);
    return o;
  }
  Outcome factorComplex(aMatrix* a, bool check = false) {
    Outcome o{nullptr, std::vector<double>(std::max(a->rows, 1)), 0.0};
    o.message = clud(a, o.pivots.data(), o.sign, check);
    return o;
  }
};

// 1/2 + 2^-53 leaves a second pivot of 2^-53 below epsilon times the growth (1).
constexpr double kNearlyHalf = 0.5 + 0x1p-53;

TEST_F(LuCore, EqualCandidatesTheLastRowWinsInLudTheFirstInClud) {
  const Outcome real = factorReal(this->real({{1, 2}, {1, 2}}));
  EXPECT_STREQ(real.message, "singular matrix");
  EXPECT_EQ(real.pivots[0], 1.0);
  EXPECT_EQ(real.sign, -1.0);

  const Outcome cx = factorComplex(complex({{1, 2}, {1, 2}}));
  EXPECT_STREQ(cx.message, "singular matrix");
  EXPECT_EQ(cx.pivots[0], 1.0) << "1-based: row 0 kept";
  EXPECT_EQ(cx.sign, 1.0);
}

TEST_F(LuCore, PivotsAreChosenRelativeToEachRowsLargestElement) {
  // Column 0 alone would pick row 1 (10 > 2); relative to their rows, 2/2 beats 10/100.
  aMatrix* a = real({{2, 1}, {10, 100}});
  const Outcome o = factorReal(a);
  ASSERT_EQ(o.message, nullptr);
  EXPECT_EQ(o.pivots, (std::vector<double>{0, 1}));
  EXPECT_EQ(o.sign, 1.0);
  EXPECT_EQ(realPart(a)(1, 0), 5.0);
  EXPECT_EQ(realPart(a)(1, 1), 95.0);

  const Outcome cx = factorComplex(complex({{2, 1}, {10, 100}}));
  EXPECT_EQ(cx.pivots, (std::vector<double>{1, 2}));
}

TEST_F(LuCore, InterchangesSetPivotsAndSign) {
  aMatrix* swap = real({{0, 1}, {1, 0}});
  Outcome o = factorReal(swap);
  EXPECT_EQ(o.pivots, (std::vector<double>{1, 1}));
  EXPECT_EQ(o.sign, -1.0);
  EXPECT_EQ(lintest::fromHost(swap).a, lintest::identityMatrix(2).a);

  // Two interchanges: rows (0 2), then (1 2).
  o = factorReal(real({{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}));
  EXPECT_EQ(o.pivots, (std::vector<double>{1, 2, 2}));
  EXPECT_EQ(o.sign, 1.0);
  o = factorComplex(complex({{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}));
  EXPECT_EQ(o.pivots, (std::vector<double>{2, 3, 3}));
  EXPECT_EQ(o.sign, 1.0);

  aMatrix* five = real({{5}});
  o = factorReal(five);
  EXPECT_EQ(o.message, nullptr);
  EXPECT_EQ(o.pivots[0], 0.0);
  EXPECT_EQ(o.sign, 1.0);
  EXPECT_EQ(five->re[0], 5.0);
  EXPECT_EQ(factorComplex(complex({{5}})).pivots[0], 1.0);
}

TEST_F(LuCore, ShapeAndContentMessages) {
  aMatrix* zeroRow = real({{1, 2, 3}, {0, 0, 0}, {4, 5, 6}});
  const struct {
    const char* what;
    aMatrix* a;
    const char* real;
    const char* complex;
  } cases[] = {
      {"1 x 1 zero", real({{0}}), "singular matrix", "singular matrix"},
      {"zero row", zeroRow, "singular matrix", "singular matrix"},
      {"2 x 3", real({{1, 2, 3}, {4, 5, 6}}), "must be square", "must be square"},
      {"0 x 0", host.allocator.matrix(0, 0, true, true), "invalid dimension", "invalid dimension"},
      {"no real part", values.matrix({}, {{1}}), "PPnullPtr", "Unknown error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_STREQ(factorReal(c.a).message, c.real);
    if (!c.a->im) c.a->im = host.allocator.matrix(c.a->rows, c.a->cols, true, false)->re;
    EXPECT_STREQ(factorComplex(c.a).message, c.complex);
  }
  EXPECT_EQ(lintest::fromHost(zeroRow).a,
            lintest::fromHost(real({{1, 2, 3}, {0, 0, 0}, {4, 5, 6}})).a)
      << "no elimination before the row test";
}

TEST_F(LuCore, NearSingularityTestOnlyWhenAsked) {
  for (bool check : {false, true}) {
    SCOPED_TRACE(check ? "check" : "no check");
    const char* expected = check ? "singular matrix" : nullptr;
    EXPECT_STREQ(factorReal(real({{1, 1}, {0.5, kNearlyHalf}}), check).message, expected);
    EXPECT_STREQ(factorComplex(complex({{1, 1}, {0.5, kNearlyHalf}}), check).message, expected);
  }
  // A small first pivot against the growth of later rows: clud tests the first diagonal
  // entry, lud starts at the second.
  Rows smallFirst = {{1, 0, 0}, {0, 1e16, 1e16}, {0, 0, 1e16}};
  EXPECT_EQ(factorReal(real(smallFirst), true).message, nullptr);
  EXPECT_STREQ(factorComplex(complex(smallFirst), true).message, "singular matrix");
}

TEST_F(LuCore, ComplexModulusOverflowIsThrown) {
  aMatrix* huge = values.matrix({{1.5e308, 1}, {1, 1}}, {{1.5e308, 0}, {0, 0}});
  double pivots[2], sign;
  EXPECT_THROW(clud(huge, pivots, sign, false), SE_FPEOverflow_Exception);
}

TEST_F(LuCore, SubstitutionMessages) {
  aMatrix* factors = real({{2, 0}, {0, 4}});
  aMatrix* square3 = real({{1, 0, 0}, {0, 1, 0}});
  double pivots[3] = {0, 1, 2};
  aMatrix* b = real({{1}, {2}});
  aMatrix* empty = host.allocator.matrix(0, 1, true, true);
  const struct {
    aMatrix* lu;
    double* pivots;
    aMatrix* b;
    const char* message;
  } realCases[] = {
      {nullptr, pivots, b, "Unknown error"},
      {factors, nullptr, b, "Unknown error"},
      {factors, pivots, nullptr, "Unknown error"},
      {values.matrix({}, {{1}}), pivots, b, "Unknown error"},
      {factors, pivots, values.matrix({}, {{1}, {2}}), "Unknown error"},
      {host.allocator.matrix(0, 0, true, false), pivots, b, "invalid dimension"},
      {factors, pivots, empty, "invalid dimension"},
      {square3, pivots, b, "must be square"},
  };
  for (const auto& c : realCases) EXPECT_STREQ(lud_subst(c.lu, c.pivots, c.b), c.message);
  ASSERT_EQ(lud_subst(factors, pivots, b), nullptr);
  EXPECT_EQ(lintest::fromHost(b).a, (std::vector<Complex>{0.5, 0.5}));

  double onePivots[3] = {1, 2, 3};
  aMatrix* cb = values.matrix({{1}, {2}}, {{0}, {0}});
  EXPECT_STREQ(clud_subst(complex({{1, 0, 0}, {0, 1, 0}}), onePivots, cb), "must be square");
  EXPECT_STREQ(clud_subst(complex({{1, 0}, {0, 1}}), onePivots, values.matrix({{1}}, {{0}})),
               "array size mismatch");
  EXPECT_STREQ(clud_subst(complex({{1, 0}, {0, 0}}), onePivots, cb), "singular matrix");
  EXPECT_STREQ(clud_subst(complex({{1, 0}, {0, 1}}), onePivots, empty), "invalid dimension");
  // A factor without a real part is purely imaginary: 4 / 2i = -2i.
  aMatrix* x = values.matrix({{4}}, {{0}});
  ASSERT_EQ(clud_subst(values.matrix({}, {{2}}), onePivots, x), nullptr);
  EXPECT_EQ(x->re[0], 0.0);
  EXPECT_EQ(x->im[0], -2.0);
}

TEST_F(LuCore, SolveChecksBeforeFactoring) {
  auto column = [&](int rows) { return host.allocator.matrix(rows, 1, true, true); };
  const struct {
    std::function<aMatrix*()> a, b;
    const char* message;
  } cases[] = {
      {[&] { return host.allocator.matrix(0, 0, true, true); }, [&] { return column(1); },
       "invalid dimension"},
      {[&] { return complex({{1}}); }, [&] { return column(0); }, "invalid dimension"},
      {[&] {
         return complex({{1, 2, 3}, {4, 5, 6}});
       },
       [&] { return column(2); }, "must be square"},
      {[&] {
         return complex({{1, 0}, {0, 1}});
       },
       [&] { return column(3); }, "array size mismatch"},
      {[&] {
         return complex({{1, 2}, {2, 4}});
       },
       [&] { return column(2); }, "singular matrix"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(lud_solve(c.a(), c.b()), c.message);
    EXPECT_STREQ(clud_solve(c.a(), c.b()), c.message);
  }
}

}  // namespace
