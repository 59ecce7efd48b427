// lu, lsolve and cholesky called through the table as a host calls them, and the
// exported value-level inv: results, every message with its position pair, imaginary-only
// and mixed arguments, leading dimensions larger than the row count.
#include <cmath>

#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

class Functions : public LinalgTest {
 protected:
  std::vector<Complex> list(testsupport::Rows re, testsupport::Rows im = {}) {
    return fromHost(values.matrix(re, im)).a;
  }
  Anyval* nested() { return asValue(values.column({values.value({{1}})})); }
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
      {"lu 1 x 1", call("lu", {values.value({{4}})}), list({{1, 1, 4}}), true},
      {"lu exchange", call("lu", {values.value({{0, 1}, {1, 0}})}),
       list({{0, 1, 1, 0, 1, 0}, {1, 0, 0, 1, 0, 1}}), true},
      // Unscaled pivoting would exchange the rows.
      {"lu scaled, ld 5", call("lu", {values.value({{2, 1}, {10, 100}}, {}, 5)}),
       list({{1, 0, 1, 0, 2, 1}, {0, 1, 5, 1, 0, 95}}), true},
      {"lu imaginary", call("lu", {values.value({}, {{2}})}), list({{1, 1, 0}}, {{0, 0, 2}}), true},
      {"lu near-singular", call("lu", {values.value({{1, 1}, {0.5, kNearlyHalf}})}),
       list({{1, 0, 1, 0, 1, 1}, {0, 1, 0.5, 1, 0, 0x1p-53}}), true},
      {"lsolve", call("lsolve", {values.value({{2, 0}, {0, 4}}, {}, 4), values.value({{2}, {8}})}),
       list({{1}, {2}}), false},
      {"lsolve complex v",
       call("lsolve", {values.value({{2, 0}, {0, 4}}), values.value({{2}, {0}}, {{0}, {8}}, 3)}),
       list({{1}, {0}}, {{0}, {2}}), true},
      {"lsolve imaginary v",
       call("lsolve", {values.value({{2, 0}, {0, 4}}), values.value({}, {{2}, {8}})}),
       list({{0}, {0}}, {{1}, {2}}), true},
      {"lsolve complex M",
       call("lsolve", {values.value({{0, 0}, {0, 4}}, {{2, 0}, {0, 0}}), values.value({{2}, {8}})}),
       list({{0}, {2}}, {{-1}, {0}}), true},
      {"lsolve near-singular",
       call("lsolve", {values.value({{1, 1}, {0.5, kNearlyHalf}}), values.value({{2}, {1}})}),
       list({{2}, {0}}), false},
      {"cholesky", call("cholesky", {values.value({{4, 2}, {2, 3}})}), list({{2, 0}, {1, r2}}),
       false},
      // The lower triangle is not read.
      {"cholesky upper", call("cholesky", {values.value({{4, 2}, {999, 3}}, {}, 6)}),
       list({{2, 0}, {1, r2}}), false},
      {"inv", inverse(values.value({{2, 0}, {0, 4}}, {}, 3)), list({{0.5, 0}, {0, 0.25}}), false},
      {"inv imaginary", inverse(values.value({}, {{2}})), list({{0}}, {{-0.5}}), true},
      {"inv complex", inverse(values.value({{4}}, {{0}})), list({{0.25}}, {{0}}), true},
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
  Anyval* column2 = values.value({{1}, {2}});
  Anyval* singular = values.value({{1, 2}, {2, 4}});
  Anyval* wide = values.value({{1, 2, 3}, {4, 5, 6}});
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
      {"lu singular", call("lu", {singular}), "singular matrix", 0, 0},
      {"lu wide", call("lu", {wide}), "must be square", 0, 1},
      {"lu nested", call("lu", {nested()}), "may not be nested", 0, 1},
      {"lu scalar", call("lu", {values.scalar(3)}), "must be array", 0, 0},
      {"lsolve string", call("lsolve", {values.string("M"), column2}), "must be array", 0, 1},
      {"lsolve scalar v", call("lsolve", {square2, values.scalar(1)}), "must be vector", 0, 2},
      {"lsolve 2 x 2 v", call("lsolve", {wide, square2}), "must be vector", 0, 2},
      {"lsolve wide", call("lsolve", {wide, column2}), "must be square", 0, 1},
      {"lsolve 2 x 0 v",
       call("lsolve", {square2, asValue(host.allocator.matrix(2, 0, true, false))}),
       "must be vector", 0, 2},
      {"lsolve rows", call("lsolve", {values.value({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}), column2}),
       "incompatible dimension", 2, 0},
      {"lsolve nested M", call("lsolve", {nested(), nested()}), "may not be nested", 0, 1},
      {"lsolve nested v", call("lsolve", {values.value({{1}}), nested()}), "may not be nested", 0,
       2},
      {"lsolve singular", call("lsolve", {singular, column2}), "singular matrix", 0, 0},
      {"lsolve singular complex", call("lsolve", {singular, values.value({}, {{1}, {2}})}),
       "singular matrix", 0, 0},
      {"lsolve overflow", call("lsolve", {values.value({{1e-300}}), values.value({{1e300}})}),
       "overflow", 0, 0},
      {"cholesky zero", call("cholesky", {values.value({{0}})}), "non-positive definite matrix", 0,
       0},
      {"cholesky indefinite", call("cholesky", {values.value({{1, 2}, {2, 1}})}),
       "non-positive definite matrix", 0, 0},
      {"cholesky NaN", call("cholesky", {values.value({{1, 0}, {0, std::nan("")}})}),
       "non-positive definite matrix", 0, 0},
      {"cholesky wide", call("cholesky", {wide}), "must be square", 0, 1},
      {"cholesky complex", call("cholesky", {values.value({{4}}, {{0}})}), "must be real", 0, 1},
      {"cholesky nested", call("cholesky", {nested()}), "may not be nested", 0, 1},
      {"cholesky string", call("cholesky", {values.string("M")}), "must be array", 0, 1},
      {"inv singular", inverse(singular), "singular matrix", 0, 0},
      {"inv near-singular", inverse(values.value({{1, 1}, {0.5, kNearlyHalf}})), "singular matrix",
       0, 0},
      // Non-zero pivots whose product underflows; a determinant beyond the largest double.
      {"cinv underflow",
       inverse(values.value({{1e-160, 0, 0}, {0, 1e-160, 0}, {0, 0, 1e-160}},
                            {{1e-160, 0, 0}, {0, 1e-160, 0}, {0, 0, 1e-160}})),
       "singular matrix", 0, 0},
      {"cinv overflow", inverse(values.value({{1e300, 0}, {0, 1e300}}, {{1e300, 0}, {0, 1e300}})),
       "overflow", 0, 0},
      {"inv wide", inverse(wide), "must be square", 0, 0},
      {"inv nested", inverse(nested()), "may not be nested", 0, 0},
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
