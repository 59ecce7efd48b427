// Matrix norms (contracts in linalg/norms.h) and the worksheet functions that show them.
//
//   norm1([1, -2; 3, 4])    = 6        largest column sum of magnitudes
//   normi([1, -2; 3, 4])    = 7        largest row sum of magnitudes
//   norme([1, -2; 3, 4])    = sqrt(30) Frobenius norm
//   norm2([3, 0; 0, -4])    = 4        largest singular value
//   norm1([3 + 4i])         = 5
//
// Each function wants a square matrix and refuses nested ones (norm2 excepted: the
// singular value routine refuses the embedded elements it meets); a complex matrix goes
// to the complex form.
#include "linalg/norms.h"

#include <algorithm>
#include <cmath>

#include "host/part_view.h"
#include "linalg/pair.h"
#include "linalg/rotations.h"
#include "linalg/working_matrices.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/ownership.h"
#include "svd/hermitian.h"
#include "svd/svd.h"

namespace {

using linalg::Pair;

// The entries of a real matrix: its real parts, zeros when it has none.
struct RealEntries {
  PartView re;
  explicit RealEntries(const aMatrix* a) : re(realPart(a)) {}
  double at(int32_t i, int32_t j) const { return re ? re(i, j) : 0.0; }
  double magnitude(int32_t i, int32_t j) const { return std::fabs(at(i, j)); }
  double squaredMagnitude(int32_t i, int32_t j) const {
    const double x = at(i, j);
    return x * x;
  }
};

// The entries of a complex matrix; an absent part reads as zeros.
struct ComplexEntries {
  PartView re, im;
  explicit ComplexEntries(const aMatrix* a) : re(realPart(a)), im(imagPart(a)) {}
  double realAt(int32_t i, int32_t j) const { return re ? re(i, j) : 0.0; }
  double imagAt(int32_t i, int32_t j) const { return im ? im(i, j) : 0.0; }
  double magnitude(int32_t i, int32_t j) const {
    return linalg::modulusByRatio(realAt(i, j), imagAt(i, j));
  }
  double squaredMagnitude(int32_t i, int32_t j) const {
    const double x = realAt(i, j), y = imagAt(i, j);
    return x * x + y * y;
  }
};

// The largest of the sums of magnitudes along columns (`alongColumns`) or rows, each sum
// formed in increasing index.
template <class Entries>
double largestSum(const aMatrix* a, bool alongColumns) {
  const Entries entries(a);
  const int32_t n = a->rows;
  double largest = 0.0;
  for (int32_t line = 0; line < n; ++line) {
    double sum = 0.0;
    for (int32_t k = 0; k < n; ++k) {
      sum += alongColumns ? entries.magnitude(k, line) : entries.magnitude(line, k);
    }
    if (sum > largest) largest = sum;
  }
  return largest;
}

template <class Entries>
double frobenius(const aMatrix* a) {
  const Entries entries(a);
  double sum = 0.0;
  for (int32_t j = 0; j < a->cols; ++j) {
    for (int32_t i = 0; i < a->rows; ++i) sum += entries.squaredMagnitude(i, j);
  }
  return std::sqrt(sum);
}

// Runs one norm after the common preamble: *out = 0, then the square test.
template <class Norm>
const char* squareNorm(const aMatrix* a, double* out, Norm norm) {
  *out = 0.0;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  *out = norm();
  return nullptr;
}

// H(i, j) and H(j, i) = the sum over k of conj(A(k, i)) A(k, j), for every i <= j, complex
// products formed as linalg::Complex forms them. A is first copied in panels of eight
// columns, each panel row by row, so that eight neighbouring i's sums run side by side in
// four pairs of lanes while k advances through contiguous memory; each sum is still the
// running sum from 0 in increasing k. Both parts of A are present.
const char* hermitianProduct(const aMatrix* a, aMatrix* h, const Interrupt& stop) {
  constexpr int32_t kWidth = 8;
  const int32_t n = a->rows;
  const size_t panels = (size_t(n) + kWidth - 1) / kWidth;
  heap::Array<double> copy(2 * panels * size_t(n) * kWidth, true);
  if (!copy) return msg::kOutOfMemory;
  const PartView ar = realPart(a), ai = imagPart(a), hr = realPart(h), hi = imagPart(h);
  // A(k, i) at panelsRe[((i / 8) * n + k) * 8 + i % 8], its imaginary part likewise.
  double* panelsRe = copy.get();
  double* panelsIm = panelsRe + panels * size_t(n) * kWidth;
  auto at = [n](int32_t k, int32_t i) {
    return (size_t(i / kWidth) * n + k) * kWidth + i % kWidth;
  };
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t k = 0; k < n; ++k) {
      panelsRe[at(k, i)] = ar(k, i);
      panelsIm[at(k, i)] = ai(k, i);
    }
  }
  for (int32_t i0 = 0; i0 < n; i0 += kWidth) {
    if (stop.requested()) return msg::kInterrupted;
    const Pair* xr = reinterpret_cast<const Pair*>(panelsRe + at(0, i0));
    const Pair* xi = reinterpret_cast<const Pair*>(panelsIm + at(0, i0));
    for (int32_t j = i0; j < n; ++j) {
      const double* br = ar.column(j);
      const double* bi = ai.column(j);
      Pair re[kWidth / 2] = {}, im[kWidth / 2] = {};
      for (int32_t k = 0; k < n; ++k) {
        const double b = br[k], c = bi[k];
        for (int32_t q = 0; q < kWidth / 2; ++q) {
          const Pair x = xr[k * (kWidth / 2) + q], y = xi[k * (kWidth / 2) + q];
          re[q] = re[q] + (x * b + y * c);
          im[q] = im[q] + (x * c - y * b);
        }
      }
      for (int32_t i = i0; i <= std::min(j, i0 + kWidth - 1); ++i) {
        const int32_t q = (i - i0) / 2, lane = (i - i0) % 2;
        hr(i, j) = hr(j, i) = re[q][lane];
        hi(i, j) = hi(j, i) = im[q][lane];
      }
    }
  }
  return nullptr;
}

}  // namespace

const char* cnorm2(UfnCallContext* ctx, const aMatrix* a, double* out) {
  *out = 0.0;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  const int32_t n = a->rows;
  heap::Array<double> eigenvalues(n);
  if (!eigenvalues) return msg::kOutOfMemory;
  TempMatrix h(ctx, newHeapMatrix(ctx, n, n, Fill::kUndefined, Fill::kUndefined));
  if (!h) return msg::kOutOfMemory;
  // A purely imaginary matrix gets zero real parts.
  TempMatrix full(ctx);
  if (!a->re) {
    if (const char* failure = complexCopy(ctx, const_cast<aMatrix*>(a), full.out())) {
      return failure;
    }
    a = full.get();
  }
  const Interrupt stop(ctx);
  if (const char* failure = hermitianProduct(a, h.get(), stop)) return failure;
  if (const char* failure = herm_eigvals(h.get(), eigenvalues.get(), stop)) return failure;
  double largest = eigenvalues[0];
  for (int32_t i = 1; i < n; ++i) {
    if (std::fabs(eigenvalues[i]) > largest) largest = std::fabs(eigenvalues[i]);
  }
  *out = std::sqrt(largest);
  return nullptr;
}

namespace {

// A norm worker: the checks, then the real or the complex core; the norm as a real
// scalar.
template <class Core>
Anyval* normValue(UfnCallContext* ctx, aMatrix* m, Core core) {
  double norm;
  if (const char* failure = core(m, &norm)) return errorValue(ctx, failure, 0);
  return scalarValue(ctx, norm);
}

}  // namespace

const char* norm1(const aMatrix* a, double* out) {
  return squareNorm(a, out, [a] { return largestSum<RealEntries>(a, true); });
}
const char* cnorm1(const aMatrix* a, double* out) {
  return squareNorm(a, out, [a] { return largestSum<ComplexEntries>(a, true); });
}
const char* normi(const aMatrix* a, double* out) {
  return squareNorm(a, out, [a] { return largestSum<RealEntries>(a, false); });
}
const char* cnormi(const aMatrix* a, double* out) {
  return squareNorm(a, out, [a] { return largestSum<ComplexEntries>(a, false); });
}
const char* norme(const aMatrix* a, double* out) {
  return squareNorm(a, out, [a] { return frobenius<RealEntries>(a); });
}
const char* cnorme(const aMatrix* a, double* out) {
  return squareNorm(a, out, [a] { return frobenius<ComplexEntries>(a); });
}

const char* norm2(aMatrix* a, double* out, const Interrupt& stop) {
  *out = 0.0;
  if (a->rows != a->cols) return msg::kMustBeSquare;
  if (a->rows < 1) return nullptr;
  if (const char* failure = svd_values(a, stop)) return failure;
  *out = std::fabs(realPart(a)(0, 0));
  return nullptr;
}

namespace worksheet {

Anyval* norm1(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).matrix().square().notNested().error()) return error;
  aMatrix* a = as<aMatrix>(m);
  return normValue(ctx, a, a->im ? ::cnorm1 : ::norm1);
}

Anyval* normi(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).matrix().square().notNested().error()) return error;
  aMatrix* a = as<aMatrix>(m);
  return normValue(ctx, a, a->im ? ::cnormi : ::normi);
}

Anyval* norme(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).matrix().square().notNested().error()) return error;
  aMatrix* a = as<aMatrix>(m);
  return normValue(ctx, a, a->im ? ::cnorme : ::norme);
}

Anyval* norm2(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 1).matrix().square().error()) return error;
  aMatrix* a = as<aMatrix>(m);
  if (a->im)
    return normValue(ctx, a, [ctx](aMatrix* x, double* out) { return cnorm2(ctx, x, out); });
  TempMatrix copy(ctx);
  if (const char* failure = matrix_copy_add_real(ctx, a, copy.out())) {
    return errorValue(ctx, failure, 0);
  }
  const Interrupt stop(ctx);
  return normValue(ctx, copy.get(),
                   [&stop](aMatrix* x, double* out) { return ::norm2(x, out, stop); });
}

}  // namespace worksheet
