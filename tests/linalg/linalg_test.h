// Support for the linear-algebra tests: dense matrices in plain complex arithmetic (test
// matrices, products, norms), their conversion to and from host values, and a fixture that
// also calls the exported value-level inv.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "host/part_view.h"
#include "linalg/inverse.h"
#include "tests/support/pack_test.h"

namespace lintest {

using Complex = std::complex<double>;

// Column-major, every element complex; `complex` says whether the host value carries an
// imaginary part.
struct Dense {
  int rows = 0, cols = 0;
  bool complex = false;
  std::vector<Complex> a;

  Dense(int rows, int cols, bool complex = false)
      : rows(rows), cols(cols), complex(complex), a(size_t(rows) * size_t(cols)) {}
  Complex& operator()(int i, int j) { return a[i + size_t(j) * rows]; }
  Complex operator()(int i, int j) const { return a[i + size_t(j) * rows]; }
};

// Elements uniform in [-1, 1] (both parts for a complex matrix).
inline Dense randomMatrix(int rows, int cols, bool complex, std::mt19937& rng) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Dense m(rows, cols, complex);
  for (Complex& x : m.a) x = complex ? Complex(uniform(rng), uniform(rng)) : uniform(rng);
  return m;
}

// A random matrix whose rows grow from 1 to 1e12 in size: scaled pivoting sees through it,
// plain partial pivoting would not.
inline Dense gradedRows(int n, bool complex, std::mt19937& rng) {
  Dense m = randomMatrix(n, n, complex, rng);
  for (int i = 0; i < n; ++i) {
    const double scale = std::pow(10.0, n > 1 ? 12.0 * i / (n - 1) : 0.0);
    for (int j = 0; j < n; ++j) m(i, j) *= scale;
  }
  return m;
}

// H(i, j) = 1 / (i + j + 1): symmetric positive definite and badly conditioned.
inline Dense hilbert(int n) {
  Dense m(n, n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) m(i, j) = 1.0 / (i + j + 1);
  }
  return m;
}

// x y; zero elements of y are skipped, so triangular factors cost half.
inline Dense product(const Dense& x, const Dense& y) {
  Dense p(x.rows, y.cols, x.complex || y.complex);
  for (int j = 0; j < y.cols; ++j) {
    for (int k = 0; k < x.cols; ++k) {
      const Complex ykj = y(k, j);
      if (ykj == 0.0) continue;
      for (int i = 0; i < x.rows; ++i) p(i, j) += x(i, k) * ykj;
    }
  }
  return p;
}

inline Dense transpose(const Dense& x) {
  Dense t(x.cols, x.rows, x.complex);
  for (int j = 0; j < x.cols; ++j) {
    for (int i = 0; i < x.rows; ++i) t(j, i) = x(i, j);
  }
  return t;
}

inline Dense difference(const Dense& x, const Dense& y) {
  Dense d = x;
  for (size_t k = 0; k < d.a.size(); ++k) d.a[k] -= y.a[k];
  return d;
}

inline Dense identityMatrix(int n) {
  Dense m(n, n);
  for (int i = 0; i < n; ++i) m(i, i) = 1.0;
  return m;
}

// Columns first .. first+count-1.
inline Dense columns(const Dense& x, int first, int count) {
  Dense part(x.rows, count, x.complex);
  for (int j = 0; j < count; ++j) {
    for (int i = 0; i < x.rows; ++i) part(i, j) = x(i, first + j);
  }
  return part;
}

// Largest column sum of moduli.
inline double norm1(const Dense& x) {
  double largest = 0.0;
  for (int j = 0; j < x.cols; ++j) {
    double sum = 0.0;
    for (int i = 0; i < x.rows; ++i) sum += std::abs(x(i, j));
    largest = std::max(largest, sum);
  }
  return largest;
}

// A host matrix holding x, with leading dimension `ld` (rows when 0). `realPart` false
// leaves out the real-part array (for imaginary-only values).
inline aMatrix* toHost(sheet::Allocator& allocator, const Dense& x, int ld = 0,
                       bool withRealPart = true) {
  aMatrix* m = allocator.matrix(x.rows, x.cols, withRealPart, x.complex, ld);
  for (int j = 0; j < x.cols; ++j) {
    for (int i = 0; i < x.rows; ++i) {
      if (m->re) ::realPart(m)(i, j) = x(i, j).real();
      if (m->im) ::imagPart(m)(i, j) = x(i, j).imag();
    }
  }
  return m;
}

inline Dense fromHost(const aMatrix* m) {
  Dense x(m->rows, m->cols, m->im != nullptr);
  for (int j = 0; j < m->cols; ++j) {
    for (int i = 0; i < m->rows; ++i) {
      x(i, j) = Complex(m->re ? ::realPart(m)(i, j) : 0.0, m->im ? ::imagPart(m)(i, j) : 0.0);
    }
  }
  return x;
}

class LinalgTest : public testsupport::PackTest {
 protected:
  Anyval* value(const Dense& x, int ld = 0) { return asValue(toHost(host.allocator, x, ld)); }

  // The host's M^-1: the exported value-level inv, checked like a table call for blocks
  // left behind.
  Anyval* inverse(Anyval* m) {
    const uint64_t before = host.allocator.historyPoint();
    Anyval* result = inv(&host.context, m);
    const std::vector<Anyval*> roots{m, result};
    const auto garbage = host.allocator.unreachable(roots, before);
    EXPECT_TRUE(garbage.empty()) << "inv left blocks behind:\n" << sheet::describe(garbage);
    return result;
  }
};

}  // namespace lintest
