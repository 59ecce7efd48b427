// What the eigensolvers fix exactly, beyond what a worksheet shows (tests/sheets/eigen.sheet):
// each eigenvector column holding a component 1 before eigenvecs normalises it, eigenvalues
// isolated by balancing coming out as the diagonal, the zero matrix, and the number of QR
// steps allowed per eigenvalue.
#include <cmath>
#include <limits>
#include <string>

#include "eigen/eigen.h"
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;
using testsupport::Rows;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A solver of the general or complex kind: values and vectors of a working copy.
using Solver = const char* (*)(UfnCallContext*, aMatrix*, aMatrix**, aMatrix**);

struct Solved {
  const char* message;
  aMatrix* values;
  aMatrix* vectors;
};

class EigensolverExact : public PackTest {
 protected:
  Solved solve(Solver solver, Rows re, Rows im = {}) {
    Solved s{nullptr, nullptr, nullptr};
    s.message = solver(&host.context, values.matrix(re, im), &s.values, &s.vectors);
    keep(s.values);
    keep(s.vectors);
    return s;
  }
  // A result made over the pack's heap becomes the host's, to be freed with the others.
  void keep(aMatrix* result) {
    if (result) host.allocator.adopt(asValue(result));
  }
  // The number of times a call asked the host whether to stop.
  template <class Call>
  long polls(Call call) {
    host.evaluator.interruptAfter(0);
    call();
    return host.evaluator.polls();
  }
};

// Every column has a component exactly 1 (a real one exactly 1 + 0i) and none of larger
// modulus.
void expectUnitPeaks(const aMatrix* vectors, const aMatrix* values) {
  const PartView re = realPart(vectors), im = imagPart(vectors);
  for (int j = 0; j < vectors->cols; ++j) {
    SCOPED_TRACE("column " + std::to_string(j));
    const bool realValue = imagPart(values)(j, 0) == 0.0;
    int ones = 0;
    for (int i = 0; i < vectors->rows; ++i) {
      EXPECT_LE(std::hypot(re(i, j), im(i, j)), 1.0 + 4e-16);
      if (re(i, j) == 1.0) {
        ++ones;
        if (realValue) {
          EXPECT_EQ(im(i, j), 0.0);
        }
        EXPECT_LE(std::fabs(im(i, j)), 4e-16);
      }
    }
    EXPECT_GE(ones, 1);
  }
}

TEST_F(EigensolverExact, EachEigenvectorHoldsAOne) {
  const struct {
    const char* name;
    Solver solver;
    Rows re, im;
  } cases[] = {
      {"rotation", evec, {{0, 1}, {-1, 0}}, {}},
      {"pairs and reals", evec, {{1, 2, 3, 4}, {-2, 1, 0, 1}, {0, 3, 2, -1}, {1, 0, -4, 3}}, {}},
      {"complex", comevec, {{1, 2, 0}, {3, 4, 1}, {0, 1, 2}}, {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}},
      {"real as complex", comevec, {{0, 1}, {-1, 0}}, {{0, 0}, {0, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Solved s = solve(c.solver, c.re, c.im);
    ASSERT_EQ(s.message, nullptr) << s.message;
    expectUnitPeaks(s.vectors, s.values);
  }
}

TEST_F(EigensolverExact, RotationGivesPlusThenMinusI) {
  for (Solver solver : {evec, comevec}) {
    const bool complex = solver == comevec;
    const Solved s = solve(solver, {{0, 1}, {-1, 0}}, complex ? Rows{{0, 0}, {0, 0}} : Rows{});
    ASSERT_EQ(s.message, nullptr);
    // Exactly from the real pair's formulas; to rounding from complex QR.
    const double tolerance = complex ? 4e-16 : 0.0;
    EXPECT_NEAR(realPart(s.values)(0, 0), 0.0, tolerance);
    EXPECT_NEAR(imagPart(s.values)(0, 0), 1.0, tolerance);
    EXPECT_NEAR(realPart(s.values)(1, 0), 0.0, tolerance);
    EXPECT_NEAR(imagPart(s.values)(1, 0), -1.0, tolerance);
    // The real solver's columns for a conjugate pair are conjugate.
    for (int i = 0; !complex && i < 2; ++i) {
      EXPECT_EQ(realPart(s.vectors)(i, 0), realPart(s.vectors)(i, 1));
      EXPECT_EQ(imagPart(s.vectors)(i, 0), -imagPart(s.vectors)(i, 1));
    }
  }
}

// Triangular matrices: balancing isolates every eigenvalue (or QR deflates at once), so the
// values are the diagonal exactly, in place.
TEST_F(EigensolverExact, TriangularValuesAreTheDiagonal) {
  const struct {
    Solver solver;
    Rows re, im;
  } cases[] = {
      {evec, {{3, 1, 4, 1}, {0, -5, 9, 2}, {0, 0, 6, 5}, {0, 0, 0, 3}}, {}},
      {comevec, {{1, 5, 1}, {0, 2, 1}, {0, 0, 3}}, {{1, 2, 7}, {0, -1, 1}, {0, 0, 2}}},
  };
  for (const auto& c : cases) {
    const Solved s = solve(c.solver, c.re, c.im);
    ASSERT_EQ(s.message, nullptr) << s.message;
    const aMatrix* a = values.matrix(c.re, c.im);
    for (int i = 0; i < a->rows; ++i) {
      EXPECT_EQ(realPart(s.values)(i, 0), realPart(a)(i, i));
      EXPECT_EQ(imagPart(s.values)(i, 0), a->im ? imagPart(a)(i, i) : 0.0);
    }
  }
}

TEST_F(EigensolverExact, ZeroMatrixHasZeroValuesAndUnitVectors) {
  const Rows zero = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  for (Solver solver : {evec, comevec}) {
    const Solved s = solve(solver, zero, solver == comevec ? zero : Rows{});
    ASSERT_EQ(s.message, nullptr);
    for (int j = 0; j < 3; ++j) {
      EXPECT_EQ(realPart(s.values)(j, 0), 0.0);
      EXPECT_EQ(imagPart(s.values)(j, 0), 0.0);
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(realPart(s.vectors)(i, j), i == j ? 1.0 : 0.0);
        EXPECT_EQ(imagPart(s.vectors)(i, j), 0.0);
      }
    }
  }
}

// A NaN never deflates, so the QR iteration runs into its limit on the first eigenvalue it
// seeks; it asks the host once per pass, the last pass being the one that gives up.
TEST_F(EigensolverExact, StepsAllowedPerEigenvalue) {
  const Rows nan = {{kNaN, kNaN, kNaN}, {kNaN, kNaN, kNaN}, {kNaN, kNaN, kNaN}};
  const struct {
    const char* name;
    Solver solver;
    long steps;
  } cases[] = {{"evec", evec, 40}, {"comevec", comevec, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Solved s{};
    // One poll for the single step of the reduction to Hessenberg form.
    const long count = polls([&] { s = solve(c.solver, nan, c.solver == comevec ? nan : Rows{}); });
    EXPECT_STREQ(s.message, "too many iterations");
    EXPECT_EQ(count, 1 + c.steps + 1);
  }
  aMatrix* result = nullptr;
  const char* message = nullptr;
  const long count =
      polls([&] { message = comeval(&host.context, values.matrix(nan, nan), &result, 0.001); });
  EXPECT_STREQ(message, "too many iterations");
  EXPECT_EQ(count, 1 + 31 + 1);
  keep(result);
  EXPECT_STREQ(sym_eigvals(&host.context, values.matrix(nan), &result), "too many iterations");
}

// The exported matrix-level entries check as the worksheet functions do and report a
// solver's message blaming no argument.
TEST_F(EigensolverExact, ExportedMatrixEntries) {
  aMatrix* wide = values.matrix({{1, 2, 3}});
  EXPECT_ERROR(asValue(eigenvals(&host.context, wide, 0.001)), "must be square", 0, 1);
  EXPECT_ERROR(asValue(eigenvecs(&host.context, wide)), "must be square", 0, 1);
  aMatrix* nan = values.matrix({{kNaN, kNaN, kNaN}, {kNaN, kNaN, kNaN}, {kNaN, 1, kNaN}});
  EXPECT_ERROR(asValue(eigenvecs(&host.context, nan)), "too many iterations", 0, 0);
  aMatrix* result = eigenvals(&host.context, values.matrix({{2, 1}, {1, 2}}), 0.001);
  ASSERT_EQ(result->tag, kTagMatrix);
  keep(result);
  EXPECT_EQ(result->im, nullptr);
}

}  // namespace
