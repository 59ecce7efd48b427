// lu, lsolve and cholesky called through the table as a host calls them, and the
// exported inverses: results, every message with its position pair, imaginary-only and
// mixed arguments, leading dimensions larger than the row count.
#include <cmath>

#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;
using testsupport::im;
using testsupport::re;
using testsupport::Rows;

class Functions : public LinalgTest {
 protected:
  // The elements of a result matrix as Dense (both parts).
  Dense matrixOf(const Anyval* v) {
    EXPECT_EQ(v->tag, kTagMatrix) << testsupport::messageOf(v);
    return v->tag == kTagMatrix ? fromHost(as<aMatrix>(v)) : Dense(0, 0);
  }
  Dense dense(Rows rows, Rows imag = {}) { return fromHost(values.matrix(rows, imag)); }
  Anyval* nested() { return asValue(values.column({values.value({{1}})})); }
};

constexpr double kNearlyHalf = 0.5 + 0x1p-53;

TEST_F(Functions, LuJoinsPermutationLowerAndUpper) {
  const struct {
    const char* what;
    Anyval* m;
    Dense expected;
  } cases[] = {
      {"1 x 1", values.value({{4}}), dense({{1, 1, 4}})},
      {"exchange", values.value({{0, 1}, {1, 0}}), dense({{0, 1, 1, 0, 1, 0}, {1, 0, 0, 1, 0, 1}})},
      // Unscaled pivoting would exchange the rows; scaled pivoting keeps them.
      {"scaled", values.value({{2, 1}, {10, 100}}, {}, 5),
       dense({{1, 0, 1, 0, 2, 1}, {0, 1, 5, 1, 0, 95}})},
      {"imaginary only", values.value({}, {{2}}), dense({{1, 1, 0}}, {{0, 0, 2}})},
      {"complex", values.value({{0, 1}, {2, 0}}, {{0, 0}, {0, 2}}),
       dense({{0, 1, 1, 0, 2, 0}, {1, 0, 0, 1, 0, 1}}, {{0, 0, 0, 0, 0, 2}, {0, 0, 0, 0, 0, 0}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Anyval* result = call("lu", {c.m});
    ASSERT_EQ(result->tag, kTagMatrix);
    EXPECT_NE(as<aMatrix>(result)->im, nullptr) << "imaginary parts always present";
    EXPECT_EQ(matrixOf(result).a, c.expected.a);
  }
}

TEST_F(Functions, LuMessages) {
  EXPECT_ERROR(call("lu", {values.value({{1, 2}, {2, 4}})}), "singular matrix", 0, 0);
  EXPECT_ERROR(call("lu", {values.value({{1, 2, 3}, {4, 5, 6}})}), "must be square", 0, 1);
  EXPECT_ERROR(call("lu", {values.value({{1}, {2}, {3}})}), "must be square", 0, 1);
  EXPECT_ERROR(call("lu", {nested()}), "may not be nested", 0, 1);
  EXPECT_ERROR(call("lu", {values.scalar(3)}), "must be array", 0, 0);
  // Only exactly zero pivots fail.
  EXPECT_EQ(call("lu", {values.value({{1, 1}, {0.5, kNearlyHalf}})})->tag, kTagMatrix);
}

TEST_F(Functions, LsolveSolvesRealComplexAndMixedSystems) {
  const struct {
    const char* what;
    Anyval *m, *v;
    Dense expected;
  } cases[] = {
      {"real", values.value({{2, 0}, {0, 4}}), values.value({{2}, {8}}), dense({{1}, {2}})},
      {"leading dimensions", values.value({{2, 0}, {0, 4}}, {}, 4), values.value({{2}, {8}}, {}, 3),
       dense({{1}, {2}})},
      {"complex vector", values.value({{2, 0}, {0, 4}}), values.value({{2}, {0}}, {{0}, {8}}),
       dense({{1}, {0}}, {{0}, {2}})},
      {"imaginary vector", values.value({{2, 0}, {0, 4}}), values.value({}, {{2}, {8}}),
       dense({{0}, {0}}, {{1}, {2}})},
      {"complex matrix", values.value({{0, 0}, {0, 4}}, {{2, 0}, {0, 0}}), values.value({{2}, {8}}),
       dense({{0}, {2}}, {{-1}, {0}})},
      {"nearly singular", values.value({{1, 1}, {0.5, kNearlyHalf}}), values.value({{2}, {1}}),
       dense({{2}, {0}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Dense x = matrixOf(call("lsolve", {c.m, c.v}));
    EXPECT_EQ(x.a, c.expected.a);
    EXPECT_EQ(x.complex, c.expected.complex);
  }
}

TEST_F(Functions, LsolveChecksInOrder) {
  Anyval* square2 = values.value({{1, 0}, {0, 1}});
  Anyval* column2 = values.value({{1}, {2}});
  const struct {
    Anyval *m, *v;
    const char* message;
    int first, position;
  } cases[] = {
      {values.string("M"), column2, "must be array", 0, 1},
      {square2, values.scalar(1), "must be vector", 0, 2},
      {square2, values.value({{1, 2}, {3, 4}}), "must be vector", 0, 2},
      {values.value({{1, 2, 3}, {4, 5, 6}}), values.value({{1, 2}}), "must be vector", 0, 2},
      {values.value({{1, 2, 3}, {4, 5, 6}}), column2, "must be square", 0, 1},
      {square2, asValue(host.allocator.matrix(2, 0, true, false)), "must be vector", 0, 2},
      {values.value({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}), column2, "incompatible dimension", 2, 0},
      {nested(), nested(), "may not be nested", 0, 1},
      {values.value({{1}}), nested(), "may not be nested", 0, 2},
      {values.value({{1, 2}, {2, 4}}), column2, "singular matrix", 0, 0},
      {values.value({{1, 2}, {2, 4}}, {{0, 0}, {0, 0}}), column2, "singular matrix", 0, 0},
      // The guard: 1e300 / 1e-300 overflows.
      {values.value({{1e-300}}), values.value({{1e300}}), "overflow", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_ERROR(call("lsolve", {c.m, c.v}), c.message, c.first, c.position);
  }
}

TEST_F(Functions, CholeskyReadsOnlyTheUpperTriangle) {
  const double r2 = std::sqrt(2.0);
  EXPECT_EQ(matrixOf(call("cholesky", {values.value({{4}})})).a, dense({{2}}).a);
  for (Anyval* m : {values.value({{4, 2}, {2, 3}}), values.value({{4, 2}, {999, 3}}),
                    values.value({{4, 2}, {-1, 3}}, {}, 6)}) {
    EXPECT_EQ(matrixOf(call("cholesky", {m})).a, dense({{2, 0}, {1, r2}}).a);
  }
}

TEST_F(Functions, CholeskyMessages) {
  const struct {
    Anyval* m;
    const char* message;
    int position;
  } cases[] = {
      {values.value({{0}}), "non-positive definite matrix", 0},
      {values.value({{1, 2}, {2, 1}}), "non-positive definite matrix", 0},
      {values.value({{1, 0}, {0, std::nan("")}}), "non-positive definite matrix", 0},
      {values.value({{1, 2, 3}, {2, 1, 0}}), "must be square", 1},
      {values.value({{4, 2}, {2, 3}}, {{0, 0}, {0, 0}}), "must be real", 1},
      {nested(), "may not be nested", 1},
      {values.string("M"), "must be array", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_ERROR(call("cholesky", {c.m}), c.message, 0, c.position);
  }
}

TEST_F(Functions, InverseOfRealAndComplexMatrices) {
  const struct {
    const char* what;
    Anyval* m;
    Dense expected;
  } cases[] = {
      {"[[2]]", values.value({{2}}), dense({{0.5}})},
      {"exchange", values.value({{0, 1}, {1, 0}}, {}, 3), dense({{0, 1}, {1, 0}})},
      {"diagonal", values.value({{2, 0}, {0, 4}}), dense({{0.5, 0}, {0, 0.25}})},
      {"imaginary only", values.value({}, {{2}}), dense({{0}}, {{-0.5}})},
      {"complex with zero parts", values.value({{4}}, {{0}}), dense({{0.25}}, {{0}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Dense result = matrixOf(inverse(c.m));
    EXPECT_EQ(result.a, c.expected.a);
    EXPECT_EQ(result.complex, c.expected.complex);
  }
}

TEST_F(Functions, InverseMessages) {
  auto opaque = [&] {
    Anyval* v = static_cast<Anyval*>(host.allocator.hostRecord(sizeof(aComplex)));
    v->tag = kTagOpaque;
    return v;
  };
  auto noop = [](std::span<Anyval* const>) -> Anyval* { return nullptr; };
  const struct {
    Anyval* m;
    const char* message;
    int first;
  } cases[] = {
      {values.value({{1, 2}, {2, 4}}), "singular matrix", 0},
      {values.value({{1, 2}, {2, 4}}, {{0, 0}, {0, 0}}), "singular matrix", 0},
      // The near-singularity test is on.
      {values.value({{1, 1}, {0.5, kNearlyHalf}}), "singular matrix", 0},
      // Non-zero pivots whose product underflows.
      {values.value({{1e-160, 0, 0}, {0, 1e-160, 0}, {0, 0, 1e-160}},
                    {{1e-160, 0, 0}, {0, 1e-160, 0}, {0, 0, 1e-160}}),
       "singular matrix", 0},
      // The determinant's modulus exceeds the largest double.
      {values.value({{1e300, 0}, {0, 1e300}}, {{1e300, 0}, {0, 1e300}}), "overflow", 0},
      {values.value({{1, 2, 3}, {4, 5, 6}}), "must be square", 0},
      {nested(), "may not be nested", 0},
      {asValue(host.allocator.matrix(0, 0, true, false)), "invalid dimension", 0},
      {values.string("M"), "must be array", 1},
      {values.scalar(2), "must be array", 1},
      {host.evaluator.functionValue(noop, kTagFunction), "illegal context", 1},
      {host.evaluator.functionValue(noop, kTagFunction2), "illegal context", 1},
      {opaque(), "illegal context", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_ERROR(inverse(c.m), c.message, c.first, 0);
  }
}

TEST_F(Functions, MessageFormsOfTheInverse) {
  UfnCallContext* ctx = &host.context;
  aMatrix* out = nullptr;
  aMatrix* nearlySingular = values.matrix({{1, 1}, {0.5, kNearlyHalf}});
  EXPECT_EQ(inv(ctx, nearlySingular, &out, false), nullptr);
  EXPECT_EQ(fromHost(out).a,
            dense({{kNearlyHalf / 0x1p-53, -1 / 0x1p-53}, {-0.5 / 0x1p-53, 0x1p53}}).a);
  EXPECT_STREQ(inv(ctx, nearlySingular, &out, true), "singular matrix");
  EXPECT_EQ(out, nullptr);
  EXPECT_STREQ(inv(ctx, values.matrix({}, {{1}}), &out, true), "Unknown error");
  EXPECT_STREQ(inv(ctx, values.matrix({{1, 2}}), &out, true), "must be square");
  EXPECT_STREQ(cinv(ctx, values.matrix({{1, 2}}, {{0, 0}}), &out, true), "must be square");
  EXPECT_STREQ(cinv(ctx, host.allocator.matrix(0, 0, true, true), &out, true), "invalid dimension");
  ASSERT_EQ(cinv(ctx, values.matrix({}, {{2}}), &out, false), nullptr);
  EXPECT_EQ(fromHost(out).a, dense({{0}}, {{-0.5}}).a);
  host.allocator.release(asValue(out));
}

}  // namespace
