// The stand-in host utility library: copies, packing and column edits.
#include <cmath>

#include "tests/support/pack_test.h"

namespace {

using testsupport::im;
using testsupport::PackTest;
using testsupport::re;

class Utilities : public PackTest {
 protected:
  UfnCallContext* ctx = &host.context;
};

TEST_F(Utilities, CopiesReadThroughTheLeadingDimensionAndAddMissingParts) {
  aMatrix* source = values.matrix({{1, 2}, {3, 4}}, {}, 5);
  const struct {
    const char* (*copy)(UfnCallContext*, aMatrix*, aMatrix**);
    bool re, im;
  } cases[] = {{matrix_copy, true, false},
               {matrix_copy_add_real, true, false},
               {matrix_copy_add_imag, true, true}};
  for (const auto& c : cases) {
    aMatrix* copy = nullptr;
    ASSERT_EQ(c.copy(ctx, source, &copy), nullptr);
    EXPECT_EQ(copy->ld, 2);
    EXPECT_EQ(copy->bytes, 32u);
    EXPECT_EQ(copy->re != nullptr, c.re);
    EXPECT_EQ(copy->im != nullptr, c.im);
    EXPECT_EQ(re(asValue(copy), 1, 0), 3);
    EXPECT_EQ(re(asValue(copy), 0, 1), 2);
    EXPECT_EQ(im(asValue(copy), 1, 1), 0);
    host.allocator.release(asValue(copy));
  }
  aMatrix* imaginary = values.matrix({}, {{5}});
  aMatrix* copy = nullptr;
  ASSERT_EQ(matrix_copy_add_real(ctx, imaginary, &copy), nullptr);
  EXPECT_EQ(copy->re[0], 0.0);
  EXPECT_EQ(copy->im[0], 5.0);
}

TEST_F(Utilities, CopyFailureGivesBackWhatItTook) {
  aMatrix* source = values.matrix({{1, 2}}, {{3, 4}});
  for (long n = 1; n <= 3; ++n) {
    const size_t before = host.allocator.outstanding();
    host.allocator.failNth(n, sheet::Allocator::Failure::kNullBlock);
    aMatrix* copy = nullptr;
    EXPECT_STREQ(matrix_copy(ctx, source, &copy), "out of memory");
    EXPECT_EQ(host.allocator.outstanding(), before);
    host.allocator.failNth(n, sheet::Allocator::Failure::kNegativeResult);
    EXPECT_THROW(matrix_copy(ctx, source, &copy), std::bad_alloc);
    EXPECT_EQ(host.allocator.outstanding(), before);
  }
}

TEST_F(Utilities, PackingJoinsSideBySideOrTopToBottom) {
  aMatrix* a = values.matrix({{1}, {2}});
  aMatrix* b = values.matrix({{3, 4}, {5, 6}}, {{0, 7}, {0, 0}});
  Anyval* joined = nullptr;
  pack_two_r(ctx, a, b, &joined);
  ASSERT_EQ(joined->tag, kTagMatrix);
  EXPECT_EQ(as<aMatrix>(joined)->rows, 2);
  EXPECT_EQ(as<aMatrix>(joined)->cols, 3);
  EXPECT_EQ(re(joined, 1, 0), 2);
  EXPECT_EQ(re(joined, 0, 2), 4);
  EXPECT_EQ(im(joined, 0, 2), 7);
  EXPECT_EQ(im(joined, 0, 0), 0);

  pack_two_rr(ctx, b, b, &joined);
  EXPECT_EQ(as<aMatrix>(joined)->rows, 4);
  EXPECT_EQ(as<aMatrix>(joined)->cols, 2);
  EXPECT_EQ(re(joined, 3, 1), 6);
  EXPECT_EQ(im(joined, 2, 1), 7);

  pack_three_c(ctx, a, a, a, &joined);
  EXPECT_EQ(as<aMatrix>(joined)->cols, 3);
  EXPECT_EQ(as<aMatrix>(joined)->im, nullptr);
  EXPECT_EQ(re(joined, 1, 2), 2);
}

TEST_F(Utilities, ColumnEdits) {
  aMatrix* m = values.matrix({{3, 0, 1}, {4, 0, 2}, {0, 0, 2}}, {}, 4);
  aMatrix* v = values.matrix({{0}, {0}, {0}});
  EXPECT_EQ(MtoVcol(m, 2, v), nullptr);
  EXPECT_EQ(v->re[2], 2);
  EXPECT_NE(MtoVcol(m, 3, v), nullptr);

  renormalize_matrix_cols(m);
  EXPECT_DOUBLE_EQ(re(asValue(m), 0, 0), 0.6);
  EXPECT_DOUBLE_EQ(re(asValue(m), 1, 0), 0.8);
  EXPECT_EQ(re(asValue(m), 0, 1), 0.0) << "a zero column stays zero";
  EXPECT_DOUBLE_EQ(re(asValue(m), 2, 2), 2.0 / 3.0);

  zero_col(0, 1, m);
  EXPECT_DOUBLE_EQ(re(asValue(m), 0, 0), 0.6);
  EXPECT_EQ(re(asValue(m), 1, 0), 0.0);
  EXPECT_TRUE(std::isnan(m->re[3])) << "the gap below the rows is not touched";
}

TEST_F(Utilities, SymmetryAndWholeNumbers) {
  EXPECT_TRUE(symmetry(values.matrix({{1, 2}, {2, 1}})));
  EXPECT_FALSE(symmetry(values.matrix({{1, 2}, {2.0000001, 1}})));
  EXPECT_FALSE(symmetry(values.matrix({{1, 2}, {2, 1}}, {{0, 1}, {0, 0}})));
  EXPECT_FALSE(symmetry(values.matrix({{1, 2}})));
  const struct {
    double x;
    int nonint;
  } cases[] = {{3, 0}, {-2, 0}, {0, 0}, {2.5, 1}, {-0.1, 1}, {4096.0000001, 1}};
  for (const auto& c : cases) {
    aComplex value{kTagScalar, 0, c.x, 0};
    EXPECT_EQ(nonint(ctx, &value), c.nonint) << c.x;
  }
}

}  // namespace
