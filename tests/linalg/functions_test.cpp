// lu, lsolve and cholesky called through the table as a host calls them, and the
// exported inverses: what a worksheet cannot write (leading dimensions larger than the row
// count, imaginary-only matrices, empty matrices, non-matrix values handed to inv, the
// message forms). The golden sheets cover results and messages of ordinary arguments.
#include <cmath>

#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

class Functions : public LinalgTest {
 protected:
  std::vector<Complex> list(testsupport::Rows re, testsupport::Rows im = {}) {
    return fromHost(values.matrix(re, im)).a;
  }
};

constexpr double kNearlyHalf = 0.5 + 0x1p-53;  // leaves a pivot of 2^-53

TEST_F(Functions, Results) {
  const double r2 = std::sqrt(2.0);
  const struct {
    const char* what;
    Anyval* result;
    std::vector<Complex> expected;
    bool complex;  // the result has an imaginary part (lu's always has)
  } cases[] = {
      // Unscaled pivoting would exchange the rows.
      {"lu scaled, ld 5", call("lu", {values.value({{2, 1}, {10, 100}}, {}, 5)}),
       list({{1, 0, 1, 0, 2, 1}, {0, 1, 5, 1, 0, 95}}), true},
      {"lu imaginary", call("lu", {values.value({}, {{2}})}), list({{1, 1, 0}}, {{0, 0, 2}}), true},
      {"lsolve", call("lsolve", {values.value({{2, 0}, {0, 4}}, {}, 4), values.value({{2}, {8}})}),
       list({{1}, {2}}), false},
      {"lsolve complex v",
       call("lsolve", {values.value({{2, 0}, {0, 4}}), values.value({{2}, {0}}, {{0}, {8}}, 3)}),
       list({{1}, {0}}, {{0}, {2}}), true},
      {"lsolve imaginary v",
       call("lsolve", {values.value({{2, 0}, {0, 4}}), values.value({}, {{2}, {8}})}),
       list({{0}, {0}}, {{1}, {2}}), true},
      // The lower triangle is not read.
      {"cholesky upper", call("cholesky", {values.value({{4, 2}, {999, 3}}, {}, 6)}),
       list({{2, 0}, {1, r2}}), false},
      {"inv", inverse(values.value({{2, 0}, {0, 4}}, {}, 3)), list({{0.5, 0}, {0, 0.25}}), false},
      {"inv imaginary", inverse(values.value({}, {{2}})), list({{0}}, {{-0.5}}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.result->tag, kTagMatrix) << testsupport::messageOf(c.result);
    EXPECT_EQ(elements(c.result), c.expected);
    EXPECT_EQ(as<aMatrix>(c.result)->im != nullptr, c.complex);
  }
}

TEST_F(Functions, MessagesAndPositions) {
  Anyval* square2 = values.value({{1, 0}, {0, 1}});
  Anyval* singular = values.value({{1, 2}, {2, 4}});
  Anyval* infiniteRow = values.value({{1, -INFINITY}, {1, 1}});
  auto opaque = [&] {
    auto* v = static_cast<Anyval*>(host.allocator.hostRecord(sizeof(aComplex)));
    v->tag = kTagOpaque;
    return v;
  };
  auto function = [&](uint32_t tag) {
    return host.evaluator.functionValue([](std::span<Anyval* const>) { return nullptr; }, tag);
  };
  const struct {
    const char* what;
    Anyval* error;
    const char* message;
    int first, position;
  } cases[] = {
      {"lsolve 2 x 0 v",
       call("lsolve", {square2, asValue(host.allocator.matrix(2, 0, true, false))}),
       "must be vector", 0, 2},
      {"lsolve singular complex", call("lsolve", {singular, values.value({}, {{1}, {2}})}),
       "singular matrix", 0, 0},
      {"cholesky NaN", call("cholesky", {values.value({{1, 0}, {0, std::nan("")}})}),
       "non-positive definite matrix", 0, 0},
      // Row 0 scales to 1 / inf = 0, and the last step's only pivot candidate is inf * 0: an
      // invalid operation, whether or not anything compares the candidate.
      {"lsolve last candidate", call("lsolve", {infiniteRow, values.value({{1}, {1}})}),
       "floating point error", 0, 0},
      {"inv last candidate", inverse(infiniteRow), "floating point error", 0, 0},
      {"inv 0 x 0", inverse(asValue(host.allocator.matrix(0, 0, true, false))), "invalid dimension",
       0, 0},
      {"inv string", inverse(values.string("M")), "must be array", 1, 0},
      {"inv scalar", inverse(values.scalar(2)), "must be array", 1, 0},
      {"inv function", inverse(function(kTagFunction)), "illegal context", 1, 0},
      {"inv function 2", inverse(function(kTagFunction2)), "illegal context", 1, 0},
      {"inv tag 16", inverse(opaque()), "illegal context", 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_ERROR(c.error, c.message, c.first, c.position);
  }
}

TEST_F(Functions, MessageFormsOfTheInverse) {
  UfnCallContext* ctx = &host.context;
  aMatrix* out = nullptr;
  aMatrix* nearlySingular = values.matrix({{1, 1}, {0.5, kNearlyHalf}});
  ASSERT_EQ(inv(ctx, nearlySingular, &out, false), nullptr);
  EXPECT_EQ(fromHost(out).a, list({{kNearlyHalf * 0x1p53, -0x1p53}, {-0x1p52, 0x1p53}}));
  EXPECT_STREQ(inv(ctx, nearlySingular, &out, true), "singular matrix");
  EXPECT_EQ(out, nullptr);
  EXPECT_STREQ(inv(ctx, values.matrix({}, {{1}}), &out, true), "Unknown error");
  EXPECT_STREQ(cinv(ctx, values.matrix({{1, 2}}, {{0, 0}}), &out, true), "must be square");
}

}  // namespace
