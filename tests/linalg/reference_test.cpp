// The factorisations, substitutions and inverses run blocked, in register tiles, for
// speed. That changes the order in which elements are visited, never the operations one
// element goes through, so the results must be bit for bit those of the plain
// step-by-step algorithms transcribed below: lud and clud with their pivoting, growth and
// near-singularity rules, the inverses column by column through lud_subst and clud_subst,
// and cholesky. Every order that puts a panel, strip or tile edge somewhere is tried, with
// each set of kernels the processor can run.
#include <cstring>
#include <string>

#include "linalg/lu.h"
#include "linalg/update.h"
#include "pack/fpguard.h"
#include "tests/linalg/linalg_test.h"

namespace {

using namespace lintest;

const int kOrders[] = {1, 2, 3, 7, 8, 9, 47, 48, 49, 63, 64, 65, 97, 130, 257};

struct Factored {
  std::vector<double> re, im, pivots;
  bool singular = false;
};

double magnitude(double re, double) {
  return std::fabs(re);
}

// Step-by-step scaled partial pivoting, as lud (complex false) and clud (true) define it.
Factored rowFactor(const Dense& m, bool complex, bool check) {
  const int n = m.rows;
  Factored f{std::vector<double>(n * n), std::vector<double>(n * n), std::vector<double>(n)};
  for (int k = 0; k < n * n; ++k) f.re[k] = m.a[k].real(), f.im[k] = m.a[k].imag();
  auto re = [&](int i, int j) -> double& { return f.re[i + j * n]; };
  auto im = [&](int i, int j) -> double& { return f.im[i + j * n]; };
  auto mag = [&](int i, int j) {
    return complex ? fpu::complexModulus(re(i, j), im(i, j)) : magnitude(re(i, j), 0);
  };
  std::vector<double> scale(n);
  for (int i = 0; i < n; ++i) {
    double big = 0.0;
    for (int j = 0; j < n; ++j) big = std::max(big, mag(i, j));
    if (big == 0.0) return f.singular = true, f;
    scale[i] = 1.0 / big;
  }
  double growth = 0.0;
  for (int k = 0; k < n; ++k) {
    int p = k;
    if (complex) {
      double largest = -1.0;
      for (int i = k; i < n; ++i) {
        if (mag(i, k) * scale[i] > largest) largest = mag(i, k) * scale[i], p = i;
      }
    } else {
      double largest = mag(k, k) * scale[k];
      for (int i = k + 1; i < n; ++i) {
        if (mag(i, k) * scale[i] >= largest) largest = mag(i, k) * scale[i], p = i;
      }
    }
    if (p != k) {
      for (int j = 0; j < n; ++j) std::swap(re(p, j), re(k, j)), std::swap(im(p, j), im(k, j));
      scale[p] = scale[k];
    }
    f.pivots[k] = p + (complex ? 1 : 0);
    const bool zero =
        complex ? re(k, k) == 0.0 && im(k, k) == 0.0 : re(k, k) == 0.0 || std::isnan(re(k, k));
    if (zero) return f.singular = true, f;
    if (k >= 1) {
      for (int j = k - 1; j < n; ++j) {
        if (mag(k - 1, j) * scale[k - 1] > growth) growth = mag(k - 1, j) * scale[k - 1];
      }
      for (int i = complex ? 0 : 1; check && i <= k; ++i) {
        if (mag(i, i) < growth * kEpsilon) return f.singular = true, f;
      }
    }
    scale[k] = 1.0;
    const linalg::SmithDivisor smith({re(k, k), im(k, k)});
    for (int i = k + 1; i < n; ++i) {
      if (complex) {
        const linalg::Complex q = smith.divide({re(i, k), im(i, k)});
        re(i, k) = q.re, im(i, k) = q.im;
      } else {
        re(i, k) = re(i, k) / re(k, k);
      }
      scale[k] = std::max(scale[k], mag(i, k));
      for (int j = k + 1; j < n; ++j) {
        const double pr = re(i, k) * re(k, j) - im(i, k) * im(k, j);
        const double pi = im(i, k) * re(k, j) + re(i, k) * im(k, j);
        re(i, j) = re(i, j) - (complex ? pr : re(i, k) * re(k, j));
        if (complex) im(i, j) = im(i, j) - pi;
      }
    }
  }
  return f;
}

void rowSubst(const Factored& f, std::vector<double>& b) {
  const int n = static_cast<int>(b.size());
  auto a = [&](int i, int j) { return f.re[i + j * n]; };
  int first = -1;
  for (int i = 0; i < n; ++i) {
    const int ip = static_cast<int>(f.pivots[i]);
    double s = b[ip];
    b[ip] = b[i];
    if (first >= 0) {
      for (int j = first; j < i; ++j) s -= a(i, j) * b[j];
    } else if (s != 0.0) {
      first = i;
    }
    b[i] = s;
  }
  for (int i = n - 1; i >= 0; --i) {
    double s = b[i];
    for (int j = i + 1; j < n; ++j) s -= a(i, j) * b[j];
    b[i] = s / a(i, i);
  }
}

std::vector<double> rowCholesky(const Dense& m) {
  const int n = m.rows;
  std::vector<double> v(n * n), d(n);
  auto a = [&](int i, int j) -> double& { return v[i + j * n]; };
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) {
      double s = m(i, j).real();
      for (int k = 0; k < i; ++k) s -= a(i, k) * a(j, k);
      if (i == j) d[i] = std::sqrt(s);
      if (i != j) a(j, i) = s / d[i];
    }
  }
  for (int i = 0; i < n; ++i) a(i, i) = d[i];
  return v;
}

bool sameBits(const double* x, const double* y, size_t count) {
  return std::memcmp(x, y, count * sizeof(double)) == 0;
}

// At each order: random with graded rows, and sparse with small whole numbers (exact
// zeros, signed zeros from cancellation, ties between pivot candidates). Beyond order 128
// the inverse works in several blocks. Beyond one panel, the random matrix once more with
// two equal columns in the middle, so that the factorisation stops inside a panel.
std::vector<Dense> matrices(bool complex) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> small(-3, 3);
  std::vector<Dense> list;
  for (int n : kOrders) {
    list.push_back(randomMatrix(n, n, complex, rng, n < 100 ? 6.0 : 0.0));
    if (n > 64) {
      Dense twin = list.back();
      for (int i = 0; i < n; ++i) twin(i, n / 2 + 1) = twin(i, n / 2);
      list.push_back(twin);
    }
    Dense sparse(n, n, complex);
    for (Complex& x : sparse.a) x = Complex(small(rng) * (small(rng) == 0), complex * small(rng));
    for (int i = 0; i < n; ++i) sparse(i, i) += 7.0;
    list.push_back(sparse);
  }
  return list;
}

// Each set of kernels this processor runs: the baseline SSE2 tiles, and where the processor
// has them, the AVX2 ones.
class RowByRow : public LinalgTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { linalg::useBaselineKernels(GetParam()); }
  void TearDown() override { linalg::useBaselineKernels(false); }
};

TEST_P(RowByRow, FactorsAndSolutionsAreBitIdentical) {
  for (bool complex : {false, true}) {
    for (const Dense& m : matrices(complex)) {
      const int n = m.rows;
      for (bool check : {false, true}) {
        SCOPED_TRACE("order " + std::to_string(n) + (complex ? ", complex" : "") +
                     (check ? ", check" : ""));
        const Factored expected = rowFactor(m, complex, check);
        aMatrix* a = toHost(host.allocator, m);
        std::vector<double> pivots(n);
        double sign;
        const char* failure =
            complex ? clud(a, pivots.data(), sign, check) : lud(a, pivots.data(), &sign, check);
        ASSERT_EQ(failure != nullptr, expected.singular);
        // Stopped early, the matrix holds what the steps so far made of it.
        EXPECT_TRUE(sameBits(a->re, expected.re.data(), n * n));
        if (complex) {
          EXPECT_TRUE(sameBits(a->im, expected.im.data(), n * n));
        }
        if (expected.singular) continue;
        EXPECT_EQ(pivots, expected.pivots);
        if (complex) continue;

        // A right-hand side with leading zeros once interchanged.
        std::vector<double> x(n);
        for (int i = n / 2; i < n; ++i) x[static_cast<int>(expected.pivots[i])] = i - n / 3;
        aMatrix* b = host.allocator.matrix(n, 1, true, false);
        std::copy(x.begin(), x.end(), b->re);
        ASSERT_STREQ(lud_subst(a, pivots.data(), b), nullptr);
        rowSubst(expected, x);
        EXPECT_TRUE(sameBits(b->re, x.data(), n));
      }
    }
  }
}

// inv and cinv solve for all unit columns at once; column j must be what the
// substitution gives for e_j alone.
TEST_P(RowByRow, InversesAreTheSubstitutionsOfTheUnitColumns) {
  for (bool complex : {false, true}) {
    for (const Dense& m : matrices(complex)) {
      const int n = m.rows;
      SCOPED_TRACE("order " + std::to_string(n) + (complex ? ", complex" : ""));
      aMatrix* inverse = nullptr;
      aMatrix* factors = toHost(host.allocator, m);
      std::vector<double> pivots(n);
      double sign;
      // A matrix the near-singularity test refuses (or cinv's determinant test, whose
      // product of U's diagonal underflows at large orders) has no inverse to compare.
      const char* refused = complex ? cinv(&host.context, toHost(host.allocator, m), &inverse, true)
                                    : inv(&host.context, toHost(host.allocator, m), &inverse, true);
      if (refused) continue;
      ASSERT_STREQ(complex ? clud(factors, pivots.data(), sign, true)
                           : lud(factors, pivots.data(), &sign, true),
                   nullptr);
      for (int j = 0; j < n; ++j) {
        aMatrix* e = host.allocator.matrix(n, 1, true, complex);
        e->re[j] = 1.0;
        ASSERT_STREQ((complex ? clud_subst : lud_subst)(factors, pivots.data(), e), nullptr);
        EXPECT_TRUE(sameBits(realPart(inverse).column(j), e->re, n)) << "column " << j;
        if (complex) {
          EXPECT_TRUE(sameBits(imagPart(inverse).column(j), e->im, n));
        }
      }
      host.allocator.release(asValue(inverse));
    }
  }
}

TEST_P(RowByRow, CholeskyFactorIsBitIdentical) {
  std::mt19937 rng(12);
  for (int n : kOrders) {
    const Dense b = randomMatrix(n, n, false, rng);
    Dense m = product(b, transpose(b));
    for (int i = 0; i < n; ++i) m(i, i) += 1.0;
    Anyval* l = call("cholesky", {value(m)});
    ASSERT_EQ(l->tag, kTagMatrix);
    EXPECT_TRUE(sameBits(as<aMatrix>(l)->re, rowCholesky(m).data(), n * n)) << "order " << n;
  }
}

// The tiled product itself, on shapes the factorisations at the orders above never give it:
// more rows than one block of rows, more steps than one chunk, single columns, and
// leading dimensions larger than the rows. Every element must be what subtracting the
// products one step at a time gives.
TEST_P(RowByRow, TiledProductIsTheStepByStepOne) {
  struct Shape {
    int rows, cols, depth;
  };
  const Shape shapes[] = {{513, 9, 7}, {300, 1, 300}, {37, 5, 257}, {1, 13, 3}, {258, 6, 64}};
  std::mt19937 rng(21);
  for (bool complex : {false, true}) {
    for (const Shape& shape : shapes) {
      SCOPED_TRACE(std::to_string(shape.rows) + " x " + std::to_string(shape.cols) + " x " +
                   std::to_string(shape.depth) + (complex ? ", complex" : ""));
      const int ldc = shape.rows + 3, lda = shape.rows + 1, ldb = shape.depth + 2;
      const Dense c = randomMatrix(ldc, shape.cols, complex, rng);
      const Dense a = randomMatrix(lda, shape.depth, complex, rng);
      const Dense b = randomMatrix(ldb, shape.cols, complex, rng);
      struct Parts {
        std::vector<double> re, im;
      } tiled{std::vector<double>(c.a.size()), std::vector<double>(c.a.size())};
      Parts stepped = tiled;
      for (size_t k = 0; k < c.a.size(); ++k) {
        tiled.re[k] = stepped.re[k] = c.a[k].real();
        tiled.im[k] = stepped.im[k] = c.a[k].imag();
      }
      for (int j = 0; j < shape.cols; ++j) {
        for (int i = 0; i < shape.rows; ++i) {
          double& re = stepped.re[i + j * ldc];
          double& im = stepped.im[i + j * ldc];
          for (int s = 0; s < shape.depth; ++s) {
            const Complex x = a(i, s), y = b(s, j);
            if (complex) {
              const double productRe = x.real() * y.real() - x.imag() * y.imag();
              const double productIm = x.imag() * y.real() + x.real() * y.imag();
              re = re - productRe;
              im = im - productIm;
            } else {
              re = re - x.real() * y.real();
            }
          }
        }
      }
      std::vector<double> aRe(a.a.size()), aIm(a.a.size()), bRe(b.a.size()), bIm(b.a.size());
      for (size_t k = 0; k < a.a.size(); ++k) aRe[k] = a.a[k].real(), aIm[k] = a.a[k].imag();
      for (size_t k = 0; k < b.a.size(); ++k) bRe[k] = b.a[k].real(), bIm[k] = b.a[k].imag();
      if (complex) {
        linalg::subtractProduct(linalg::SplitColumn{tiled.re.data(), tiled.im.data()}, ldc,
                                linalg::SplitColumn{aRe.data(), aIm.data()}, lda,
                                linalg::SplitColumn{bRe.data(), bIm.data()}, ldb, shape.rows,
                                shape.cols, shape.depth);
      } else {
        linalg::subtractProduct(tiled.re.data(), ldc, aRe.data(), lda, bRe.data(), ldb, shape.rows,
                                shape.cols, shape.depth);
      }
      EXPECT_TRUE(sameBits(tiled.re.data(), stepped.re.data(), c.a.size()));
      if (complex) {
        EXPECT_TRUE(sameBits(tiled.im.data(), stepped.im.data(), c.a.size()));
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, RowByRow, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Baseline" : "Fastest"; });

}  // namespace
