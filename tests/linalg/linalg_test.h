// Support for the linear-algebra tests: dense complex matrices (test matrices, products,
// 1-norms), their conversion to and from host values, and a fixture that also calls the
// exported value-level inv.
#pragma once

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "host/part_view.h"
#include "linalg/inverse.h"
#include "tests/support/pack_test.h"

namespace lintest {

using Complex = std::complex<double>;

constexpr double kEpsilon = 2.220446049250313e-16;
// The bound on residuals scaled LAPACK's way (order, norms, eps) that a backward-stable
// computation stays below however badly conditioned the matrix.
constexpr double kThreshold = 30.0;

// Column-major; `complex` says whether the host value carries an imaginary part.
struct Dense {
  int rows = 0, cols = 0;
  bool complex = false;
  std::vector<Complex> a;

  Dense(int rows, int cols, bool complex = false)
      : rows(rows), cols(cols), complex(complex), a(size_t(rows) * size_t(cols)) {}
  Complex& operator()(int i, int j) { return a[i + size_t(j) * rows]; }
  Complex operator()(int i, int j) const { return a[i + size_t(j) * rows]; }
};

// Elements uniform in [-1, 1]; rows scaled from 1 up to 10^grading.
inline Dense randomMatrix(int rows, int cols, bool complex, std::mt19937& rng,
                          double grading = 0.0) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Dense m(rows, cols, complex);
  for (int j = 0; j < cols; ++j) {
    for (int i = 0; i < rows; ++i) {
      const double scale = std::pow(10.0, rows > 1 ? grading * i / (rows - 1) : 0.0);
      m(i, j) = scale * (complex ? Complex(uniform(rng), uniform(rng)) : uniform(rng));
    }
  }
  return m;
}

// x y - z (no z: x y); zero elements of y are skipped, so triangular factors and
// permutations cost less.
inline Dense product(const Dense& x, const Dense& y, const Dense* z = nullptr) {
  Dense p(x.rows, y.cols, x.complex || y.complex);
  if (z) {
    for (size_t k = 0; k < p.a.size(); ++k) p.a[k] = -z->a[k];
  }
  for (int j = 0; j < y.cols; ++j) {
    for (int k = 0; k < x.cols; ++k) {
      if (y(k, j) == 0.0) continue;
      for (int i = 0; i < x.rows; ++i) p(i, j) += x(i, k) * y(k, j);
    }
  }
  return p;
}

inline Dense identityMatrix(int n) {
  Dense e(n, n);
  for (int i = 0; i < n; ++i) e(i, i) = 1.0;
  return e;
}

inline Dense transpose(const Dense& x) {
  Dense t(x.cols, x.rows, x.complex);
  for (int j = 0; j < x.cols; ++j) {
    for (int i = 0; i < x.rows; ++i) t(j, i) = x(i, j);
  }
  return t;
}

inline double norm1(const Dense& x) {
  double largest = 0.0;
  for (int j = 0; j < x.cols; ++j) {
    double sum = 0.0;
    for (int i = 0; i < x.rows; ++i) sum += std::abs(x(i, j));
    largest = std::max(largest, sum);
  }
  return largest;
}

// A host matrix holding x, with leading dimension `ld` (rows when 0).
inline aMatrix* toHost(sheet::Allocator& allocator, const Dense& x, int ld = 0) {
  aMatrix* m = allocator.matrix(x.rows, x.cols, true, x.complex, ld);
  for (int j = 0; j < x.cols; ++j) {
    for (int i = 0; i < x.rows; ++i) {
      realPart(m)(i, j) = x(i, j).real();
      if (m->im) imagPart(m)(i, j) = x(i, j).imag();
    }
  }
  return m;
}

inline Dense fromHost(const aMatrix* m) {
  Dense x(m->rows, m->cols, m->im != nullptr);
  for (int j = 0; j < m->cols; ++j) {
    for (int i = 0; i < m->rows; ++i) {
      x(i, j) = Complex(m->re ? realPart(m)(i, j) : 0.0, m->im ? imagPart(m)(i, j) : 0.0);
    }
  }
  return x;
}

class LinalgTest : public testsupport::PackTest {
 protected:
  Anyval* value(const Dense& x) { return asValue(toHost(host.allocator, x)); }
  // The elements of a matrix value (none for anything else).
  static std::vector<Complex> elements(const Anyval* v) {
    return v->tag == kTagMatrix ? fromHost(as<aMatrix>(v)).a : std::vector<Complex>{};
  }

  // The host's M^-1: the exported value-level inv, checked like a table call for blocks
  // left behind.
  Anyval* inverse(Anyval* m) {
    const uint64_t before = host.allocator.historyPoint();
    Anyval* result = inv(&host.context, m);
    host.allocator.adopt(result);
    const std::vector<Anyval*> roots{m, result};
    const auto garbage = host.allocator.unreachable(roots, before);
    EXPECT_TRUE(garbage.empty()) << "inv left blocks behind:\n" << sheet::describe(garbage);
    return result;
  }
};

}  // namespace lintest
