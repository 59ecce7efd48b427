// What a worksheet cannot show of the singular value routines and herm_eigvals: the exact
// overflow threshold of the rotations, the sweep limit met by a matrix that never
// converges, and herm_eigvals called directly. Ordinary results and messages are in the
// golden sheets (tests/sheets/svd.sheet, norms.sheet).
#include <cfloat>
#include <cmath>
#include <limits>

#include "svd/hermitian.h"
#include "svd/svd.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;
using testsupport::Rows;

// The largest double whose square, held in long double, does not exceed the largest
// double: the largest rotation operand accepted.
double largestOperand() {
  double f = std::sqrt(DBL_MAX);
  auto fits = [](double x) { return static_cast<long double>(x) * x <= DBL_MAX; };
  while (!fits(f)) f = std::nextafter(f, 0.0);
  while (fits(std::nextafter(f, DBL_MAX))) f = std::nextafter(f, DBL_MAX);
  return f;
}

class SvdCore : public LinalgTest {};

// [0, F; 0, 1] has a zero on the diagonal: its superdiagonal -F is cancelled by one
// rotation with the operands -F and 1, which is refused when F^2 exceeds the largest
// double.
TEST_F(SvdCore, RotationOperandsUpToTheSquareRootOfTheLargestDoubleAreAccepted) {
  const double f = largestOperand();
  EXPECT_NEAR(f, 1.3407807929942596e154, 1e139);
  for (const char* name : {"svds", "svd"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(call(name, {values.value({{0, f}, {0, 1}})})->tag, kTagMatrix);
    EXPECT_ERROR(call(name, {values.value({{0, std::nextafter(f, DBL_MAX)}, {0, 1}})}), "overflow",
                 0, 0);
  }
  const Anyval* w = call("svds", {values.value({{0, f}, {0, 1}})});
  EXPECT_EQ(testsupport::re(w, 0, 0), f);
  EXPECT_EQ(testsupport::re(w, 1, 0), 0.0);
}

// A NaN never lets a superdiagonal entry become negligible: every value gets its 100
// sweeps. svd and norm2 run under the floating-point guard, which sees the invalid
// comparisons with the NaN first.
TEST_F(SvdCore, AValueThatNeverConvergesStopsAfterTheSweepLimit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const char* name : {"svds", "rank", "svd", "norm2"}) {
    SCOPED_TRACE(name);
    const bool guarded = name[0] != 'r' && name[3] != 's';
    EXPECT_ERROR(call(name, {values.value({{1, 2}, {nan, 4}})}),
                 guarded ? "floating point error" : "too many iterations", 0, 0);
  }
}

struct HermitianCase {
  const char* name;
  Rows re, im;
  std::vector<double> eigenvalues;
};

TEST_F(SvdCore, HermitianEigenvaluesOfSmallMatrices) {
  // Only the lower triangle is read, and not the imaginary parts of the diagonal.
  const HermitianCase cases[] = {
      {"1 x 1", {{-2.5}}, {{7}}, {-2.5}},
      {"diagonal",
       {{3, 9, 9}, {0, -1, 9}, {0, 0, 2}},
       {{5, 9, 9}, {0, 5, 9}, {0, 0, 5}},
       {-1, 2, 3}},
      {"[2, -i; i, 2]", {{2, 99}, {0, 2}}, {{0, 99}, {1, 0}}, {1, 3}},
      {"equal values", {{1, 0}, {0, 1}}, {{0, 0}, {0, 0}}, {1, 1}},
  };
  for (const HermitianCase& c : cases) {
    SCOPED_TRACE(c.name);
    aMatrix* h = values.matrix(c.re, c.im);
    std::vector<double> d(h->rows);
    ASSERT_STREQ(herm_eigvals(h, d.data()), nullptr);
    for (size_t i = 0; i < d.size(); ++i) EXPECT_NEAR(d[i], c.eigenvalues[i], 1e-15) << i;
  }
}

}  // namespace
