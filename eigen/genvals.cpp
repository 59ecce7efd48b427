// genvals(M, N) and genvecs(M, N): the generalised eigenproblem M x = lambda N x for two
// real square matrices of one size, by the QZ algorithm (eigen/qz.h).
//
//   genvals([2], [4])                           = [0.5]
//   genvals([2, 1; 0, 3], identity(2))          = [2; 3]      (a complex column)
//   genvals([0, -1; 1, 0], identity(2))         = [1i; -1i]   (a conjugate pair, in order)
//   genvals(diag([1; 0]), [0, 0; 0, 0])         = [0]         (1/0 dropped, 0/0 kept as 0)
//   genvals(identity(2), [0, 0; 0, 0])          -> "no solution found"
//
// genvals gives the finite eigenvalues; genvecs their eigenvectors as the columns of a
// complex matrix, each of Euclidean length 1, a conjugate pair's in the pair's order.
// Infinite eigenvalues (beta = 0, alpha != 0) are dropped. When N is singular and M is not
// (by rank), the pencil (N, M) is solved instead and the eigenvalues mu it gives are
// inverted, those with |Re mu| <= 1e-10 (near infinity for the pencil asked about) left
// out. A 1 x 1 pencil is answered directly.
#include <cmath>

#include "eigen/qz.h"
#include "linalg/field.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/heap.h"
#include "pack/ownership.h"
#include "svd/svd.h"

namespace {

// Eigenvalues mu of the swapped pencil with |Re mu| at most this are left out.
constexpr double kSwappedFloor = 1e-10;

// The finite eigenvalues of a pencil and, when asked for, their vectors: the first
// `count` of `re`, `im`, and n x count column-major in `vectorsRe`, `vectorsIm`.
struct Spectrum {
  heap::Array<double> re, im, vectorsRe, vectorsIm;
  int32_t count = 0;
};

// Each position's alpha, beta and (in Z) vector, with magnitudes at most sqrt(n) eps set to
// zero, compacted to the front: a finite eigenvalue alpha / beta is kept with its vector,
// 0 / 0 is kept as 0, and an infinite one dropped. A complex pair takes two positions
// (where qz_values put it), with the vectors Z(:, j) +- i Z(:, j + 1); Z holds the real
// parts and is compacted in place.
void compact(int32_t n, double* alfr, double* alfi, double* beta, Spectrum& s) {
  const double tiny = std::sqrt(double(n)) * linalg::kEpsilon;
  const bool vectors = s.vectorsRe.get() != nullptr;
  auto column = [n](const heap::Array<double>& part, int32_t j) {
    return part.get() + ptrdiff_t{j} * n;
  };
  for (int32_t j = 0; j < n; ++j) {
    const bool pair = alfi[j] != 0.0 && j + 1 < n;
    for (int32_t k = j; k <= j + pair; ++k) {
      for (double* x : {&alfr[k], &alfi[k], &beta[k]}) {
        if (std::fabs(*x) <= tiny) *x = 0.0;
      }
    }
    for (int32_t k = j; k <= j + pair; ++k) {
      if (beta[k] == 0.0 && (alfr[k] != 0.0 || alfi[k] != 0.0)) continue;
      const int32_t c = s.count++;
      s.re[c] = beta[k] == 0.0 ? 0.0 : alfr[k] / beta[k];
      s.im[c] = beta[k] == 0.0 || alfi[k] == 0.0 ? 0.0 : alfi[k] / beta[k];
      if (!vectors) continue;
      double* im = column(s.vectorsIm, c);
      const double* zj = column(s.vectorsRe, j);
      const double* zj1 = column(s.vectorsRe, j + 1);
      for (int32_t i = 0; i < n; ++i) im[i] = !pair ? 0.0 : k == j ? zj1[i] : -zj1[i];
      if (c != j) std::copy(zj, zj + n, column(s.vectorsRe, c));
    }
    j += pair;
  }
}

// The spectrum of the pencil (a, b), n >= 2, computed in place on the two copies.
// Messages: "out of memory", "too many iterations", "interrupted".
const char* solvePencil(PartView a, PartView b, int32_t n, bool wantVectors, Spectrum& s,
                        const Interrupt& stop) {
  const size_t square = size_t(n) * size_t(n);
  heap::Array<double> alfr(n, true), alfi(n, true), beta(n, true);
  s.re = heap::Array<double>(n);
  s.im = heap::Array<double>(n);
  if (!alfr || !alfi || !beta || !s.re || !s.im) return msg::kOutOfMemory;
  PartView z;
  if (wantVectors) {
    s.vectorsRe = heap::Array<double>(square);
    s.vectorsIm = heap::Array<double>(square);
    if (!s.vectorsRe || !s.vectorsIm) return msg::kOutOfMemory;
    z = PartView(s.vectorsRe.get(), n);
  }
  if (const char* failure = eigen::qz_hessenberg(a, b, z, n, stop)) return failure;
  if (const char* failure = eigen::qz_iterate(a, b, z, n, stop)) return failure;
  eigen::qz_values(a, b, n, alfr.get(), alfi.get(), beta.get(), z);
  if (wantVectors) {
    if (const char* failure =
            eigen::qz_vectors(a, b, n, alfr.get(), alfi.get(), beta.get(), z, stop)) {
      return failure;
    }
  }
  compact(n, alfr.get(), alfi.get(), beta.get(), s);
  return nullptr;
}

// Keeps the eigenvalues mu of the swapped pencil with |Re mu| > 1e-10, inverted, and
// their vectors.
void invertSwapped(int32_t n, Spectrum& s) {
  int32_t kept = 0;
  for (int32_t k = 0; k < s.count; ++k) {
    const double re = s.re[k], im = s.im[k];
    if (!(std::fabs(re) > kSwappedFloor)) continue;
    const double d = re * re + im * im;
    s.re[kept] = re / d;
    s.im[kept] = -im / d;
    if (s.vectorsRe && kept != k) {
      for (heap::Array<double>* part : {&s.vectorsRe, &s.vectorsIm}) {
        const double* from = part->get() + ptrdiff_t{k} * n;
        std::copy(from, from + n, part->get() + ptrdiff_t{kept} * n);
      }
    }
    ++kept;
  }
  s.count = kept;
}

// The numerical rank of m through rank; false with `error` set when rank gives an error.
bool rankOf(UfnCallContext* ctx, aMatrix* m, double& value, Anyval*& error) {
  Anyval* result = rank(ctx, m);
  if (result->tag != kTagScalar) {
    error = result;
    return false;
  }
  value = as<aComplex>(result)->re;
  releaseValue(ctx, result);
  return true;
}

// A 1 x 1 real matrix holding x.
Anyval* realScalarMatrix(UfnCallContext* ctx, double x) {
  aMatrix* m = newHeapMatrix(ctx, 1, 1, Fill::kUndefined, Fill::kAbsent);
  if (!m) return outOfMemoryValue();
  m->re[0] = x;
  return asValue(m);
}

// The 1 x 1 pencil (m, b): m / b when b is not 0 (vector [1]); nothing when only b is 0;
// "singularity" when both are.
Anyval* oneByOne(UfnCallContext* ctx, const aMatrix* m, const aMatrix* n, bool wantVectors) {
  const double a = m->re ? m->re[0] : 0.0, b = n->re ? n->re[0] : 0.0;
  if (b == 0.0) return errorValue(ctx, a == 0.0 ? msg::kSingularity : msg::kNoSolutionFound, 0);
  return realScalarMatrix(ctx, wantVectors ? 1.0 : a / b);
}

// A working copy of the real matrix m, with a real-part array even when m has none.
const char* realCopy(UfnCallContext* ctx, aMatrix* m, TempMatrix& copy) {
  return m->re ? matrix_copy(ctx, m, copy.out()) : matrix_copy_add_real(ctx, m, copy.out());
}

Anyval* generalised(UfnCallContext* ctx, aMatrix* m, aMatrix* n, bool wantVectors) {
  const int32_t order = m->rows;
  if (order < 1) return errorValue(ctx, msg::kInvalidDimension, 0);
  if (order == 1) return oneByOne(ctx, m, n, wantVectors);
  TempMatrix a(ctx), b(ctx);
  if (const char* failure = realCopy(ctx, m, a)) return errorValue(ctx, failure, 0);
  if (const char* failure = realCopy(ctx, n, b)) return errorValue(ctx, failure, 0);
  double rankM, rankN;
  Anyval* error = nullptr;
  if (!rankOf(ctx, m, rankM, error) || !rankOf(ctx, n, rankN, error)) return error;
  const bool swapped = rankN < order && rankM == order;

  Spectrum s;
  const PartView pa = realPart(a.get()), pb = realPart(b.get());
  if (const char* failure = swapped ? solvePencil(pb, pa, order, wantVectors, s, Interrupt(ctx))
                                    : solvePencil(pa, pb, order, wantVectors, s, Interrupt(ctx))) {
    return errorValue(ctx, failure, 0);
  }
  if (swapped) invertSwapped(order, s);
  if (s.count == 0) return errorValue(ctx, msg::kNoSolutionFound, 0);
  if (!wantVectors) return resultMatrix(ctx, s.count, 1, s.re, s.im);
  aMatrix* vectors = newMatrix(ctx, order, s.count, s.vectorsRe, s.vectorsIm);
  if (!vectors) return outOfMemoryValue();
  renormalize_matrix_cols(vectors);
  return asValue(vectors);
}

// The checks both functions make, in order.
Anyval* checkPencil(UfnCallContext* ctx, Anyval* m, Anyval* n) {
  const aMatrix* a = as<aMatrix>(m);
  const aMatrix* b = as<aMatrix>(n);
  return Require(ctx, m, 1)
      .matrix()
      .next(n, 2)
      .matrix()
      .next(m, 1)
      .real()
      .next(n, 2)
      .real()
      .next(m, 1)
      .square()
      .next(n, 2)
      .square()
      .blame(0, 0)
      .that([&] { return a->cols == b->cols; }, msg::kIncompatibleDimensions)
      .next(m, 1)
      .notNested()
      .next(n, 2)
      .notNested()
      .error();
}

}  // namespace

Anyval* worksheet::genvals(UfnCallContext* ctx, Anyval* m, Anyval* n) {
  if (Anyval* error = checkPencil(ctx, m, n)) return error;
  return generalised(ctx, as<aMatrix>(m), as<aMatrix>(n), false);
}

Anyval* worksheet::genvecs(UfnCallContext* ctx, Anyval* m, Anyval* n) {
  if (Anyval* error = checkPencil(ctx, m, n)) return error;
  return generalised(ctx, as<aMatrix>(m), as<aMatrix>(n), true);
}
