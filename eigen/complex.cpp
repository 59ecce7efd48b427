// The complex eigensolver: comeval and comevec (eigen/eigen.h).
//
//   [1i, 0; 0, -1i]      values (1i, -1i); vectors the unit columns
//   [0, 1; -1, 0] + 0i   values (1i, -1i): a zero imaginary part still takes this path
//   complex triangular   value i = a(i, i), isolated by balancing or deflated at once
//
// The steps: balance (eigen/steps.h); reduce the block to Hessenberg form by Householder
// reflections; rotate the sub-diagonal real; find the eigenvalues by the complex QR
// iteration with Wilkinson's shift (exceptional shifts after 10 and 20 steps), deflating on
// a sub-diagonal entry below machine epsilon times its diagonal neighbours; for the vectors,
// accumulate every transformation into Z, back-substitute in the triangle, multiply back by
// Z and undo the balancing, and divide each column by its first component of largest
// modulus. comeval allows an eigenvalue 31 QR steps, comevec 30.
//
// Complex numbers are held as their two parts and every product is written out part by
// part in the order the published routines use, so both solvers compute the same bits on
// their common steps. Loops run down columns where an element's operations allow: the
// reduction's right-hand reflections, each QR step's rotations (the left-hand ones column by
// column, in groups), the back-substitution (over the triangle transposed into the free
// lower half) and the back multiplication.
#include "eigen/complex.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "eigen/eigen.h"
#include "eigen/sweep_kernels.h"
#include "linalg/rotations.h"
#include "pack/heap.h"
#include "pack/messages.h"
#include "pack/ownership.h"

namespace eigen {
namespace {

using linalg::Complex;
using linalg::ComplexField;
using linalg::SmithDivisor;
using linalg::SplitColumn;
using View = ComplexField::View;

using linalg::kEpsilon;

// |x + iy| = m sqrt(1 + (s / m)^2), m the larger and s the smaller of |x| and |y|: no
// square can overflow.
double modulus(double x, double y) {
  return linalg::modulusByRatio(x, y);
}

// The square root of q with a non-negative real part (both roots' real parts are zero only
// when q is a non-positive real; then the one with Im q's sign). Its modulus is
// sqrt((|q| + |Re q|) / 2), formed from the larger of |Re q| and |Im q| so nothing
// overflows.
Complex principalRoot(Complex q) {
  if (q.re == 0.0 && q.im == 0.0) return {0.0, 0.0};
  const double a = std::fabs(q.re), b = std::fabs(q.im);
  double r;
  if (a >= b) {
    const double ratio = b / a;
    r = std::sqrt(a) * std::sqrt((std::sqrt(1.0 + ratio * ratio) + 1.0) / 2.0);
  } else {
    const double ratio = a / b;
    r = std::sqrt(b) * std::sqrt((std::sqrt(1.0 + ratio * ratio) + ratio) / 2.0);
  }
  if (q.re >= 0.0) return {r, q.im / (2.0 * r)};
  const double imaginary = q.im < 0.0 ? -r : r;
  return {q.im / (2.0 * imaginary), imaginary};
}

// The sums s_c = sum of conj(u(i)) x_c(i) over i = first .. last for W columns x_c, each
// taken from `last` down (kDown) or from `first` up; the columns' chains of additions run
// side by side, each in its own order.
template <int W, bool kDown>
void conjugateDots(const double* ur, const double* ui, const SplitColumn* x, int32_t first,
                   int32_t last, Complex* sums) {
  double sr[W] = {}, si[W] = {};
  for (int32_t t = 0; t <= last - first; ++t) {
    const int32_t i = kDown ? last - t : first + t;
    for (int c = 0; c < W; ++c) {
      sr[c] = sr[c] + ur[i] * x[c].re[i] + ui[i] * x[c].im[i];
      si[c] = si[c] + ur[i] * x[c].im[i] - ui[i] * x[c].re[i];
    }
  }
  for (int c = 0; c < W; ++c) sums[c] = {sr[c], si[c]};
}

// Applies `update(x, s)` to columns first .. last of `a`, each x with its sum s =
// conjugateDots over rows `rowFirst` .. `rowLast`; four columns' sums are formed at a time.
template <bool kDown, class Update>
void forEachColumnWithDot(const View& a, int32_t first, int32_t last, const double* ur,
                          const double* ui, int32_t rowFirst, int32_t rowLast, Update update) {
  for (int32_t j = first; j <= last;) {
    SplitColumn x[4];
    Complex sums[4];
    const int width = last - j + 1 >= 4 ? 4 : 1;
    for (int c = 0; c < width; ++c) x[c] = a.column(j + c);
    if (width == 4) {
      conjugateDots<4, kDown>(ur, ui, x, rowFirst, rowLast, sums);
    } else {
      conjugateDots<1, kDown>(ur, ui, x, rowFirst, rowLast, sums);
    }
    for (int c = 0; c < width; ++c) update(x[c], sums[c]);
    j += width;
  }
}

// The reflection I - u u^H / h from the left, on rows m .. high of columns m .. n-1: column j
// loses u (u^H x_j) / h, the sum taken from row high up.
void reflectFromLeft(const View& a, int32_t n, int32_t m, int32_t high, const double* ur,
                     const double* ui, double h) {
  forEachColumnWithDot<true>(a, m, n - 1, ur, ui, m, high, [&](SplitColumn x, Complex f) {
    const double fr = f.re / h, fi = f.im / h;
    for (int32_t i = m; i <= high; ++i) {
      x.re[i] = x.re[i] - fr * ur[i] + fi * ui[i];
      x.im[i] = x.im[i] - fr * ui[i] - fi * ur[i];
    }
  });
}

// The same reflection from the right, on columns m .. high of rows 0 .. high. Row i's sum
// runs over columns high down to m; all rows' sums are formed together, column by column.
void reflectFromRight(const View& a, int32_t m, int32_t high, const double* ur, const double* ui,
                      double h, SplitColumn sums) {
  double* fr = sums.re;
  double* fi = sums.im;
  std::fill(fr, fr + high + 1, 0.0);
  std::fill(fi, fi + high + 1, 0.0);
  // Four columns at a time: each row's sums pass through registers, in the column order.
  int32_t j = high;
  for (; j - 3 >= m; j -= 4) {
    const SplitColumn x0 = a.column(j), x1 = a.column(j - 1), x2 = a.column(j - 2),
                      x3 = a.column(j - 3);
    for (int32_t i = 0; i <= high; ++i) {
      double r = fr[i], s = fi[i];
      r = r + ur[j] * x0.re[i] - ui[j] * x0.im[i];
      s = s + ur[j] * x0.im[i] + ui[j] * x0.re[i];
      r = r + ur[j - 1] * x1.re[i] - ui[j - 1] * x1.im[i];
      s = s + ur[j - 1] * x1.im[i] + ui[j - 1] * x1.re[i];
      r = r + ur[j - 2] * x2.re[i] - ui[j - 2] * x2.im[i];
      s = s + ur[j - 2] * x2.im[i] + ui[j - 2] * x2.re[i];
      r = r + ur[j - 3] * x3.re[i] - ui[j - 3] * x3.im[i];
      s = s + ur[j - 3] * x3.im[i] + ui[j - 3] * x3.re[i];
      fr[i] = r;
      fi[i] = s;
    }
  }
  for (; j >= m; --j) {
    const SplitColumn x = a.column(j);
    for (int32_t i = 0; i <= high; ++i) {
      fr[i] = fr[i] + ur[j] * x.re[i] - ui[j] * x.im[i];
      fi[i] = fi[i] + ur[j] * x.im[i] + ui[j] * x.re[i];
    }
  }
  for (int32_t i = 0; i <= high; ++i) {
    fr[i] /= h;
    fi[i] /= h;
  }
  for (int32_t j = m; j <= high; ++j) {
    double* re = a.re.column(j);
    double* im = a.im.column(j);
    for (int32_t i = 0; i <= high; ++i) {
      re[i] = re[i] - fr[i] * ur[j] - fi[i] * ui[j];
      im[i] = im[i] + fr[i] * ui[j] - fi[i] * ur[j];
    }
  }
}

// Z = the product of the reduction's reflections (Z starts as zeros).
void accumulateReflections(const View& a, const View& z, int32_t n, Block block, double* ortr,
                           double* orti) {
  for (int32_t j = 0; j < n; ++j) z.re(j, j) = 1.0;
  for (int32_t i = block.high - 1; i > block.low; --i) {
    if (ortr[i] == 0.0 && orti[i] == 0.0) continue;
    if (a.re(i, i - 1) == 0.0 && a.im(i, i - 1) == 0.0) continue;
    // The negative of the reduction's h.
    const double h = a.re(i, i - 1) * ortr[i] + a.im(i, i - 1) * orti[i];
    for (int32_t k = i + 1; k <= block.high; ++k) {
      ortr[k] = a.re(k, i - 1);
      orti[k] = a.im(k, i - 1);
    }
    forEachColumnWithDot<false>(z, i, block.high, ortr, orti, i, block.high,
                                [&](SplitColumn x, Complex f) {
                                  const double sr = f.re / h, si = f.im / h;
                                  for (int32_t k = i; k <= block.high; ++k) {
                                    x.re[k] = x.re[k] + sr * ortr[k] - si * orti[k];
                                    x.im[k] = x.im[k] + sr * orti[k] + si * ortr[k];
                                  }
                                });
  }
}

// Multiplies x(first .. last) by y, or by conj(y) when `conjugate`, part by part.
void multiplyRun(double* xr, double* xi, ptrdiff_t stride, int32_t first, int32_t last, Complex y,
                 bool conjugate) {
  for (int32_t k = first; k <= last; ++k) {
    double& re = xr[k * stride];
    double& im = xi[k * stride];
    const double r = re, i = im;
    if (conjugate) {
      re = y.re * r + y.im * i;
      im = y.re * i - y.im * r;
    } else {
      re = y.re * r - y.im * i;
      im = y.re * i + y.im * r;
    }
  }
}

// The solver's QR iteration, for the eigenvalues alone or with Z (kVectors). kVectors also
// carries the rows and columns outside the active block along, as the vectors need.
template <bool kVectors>
class ComplexQr {
 public:
  ComplexQr(const View& h, const View& z, int32_t n, Block block, SplitColumn w)
      : h_(h), z_(z), n_(n), block_(block), w_(w) {}

  // Rotates each sub-diagonal entry of the block to a real number.
  void makeSubdiagonalReal() {
    const int32_t high = block_.high;
    for (int32_t i = block_.low + 1; i <= high; ++i) {
      if (h_.im(i, i - 1) == 0.0) continue;
      const double norm = modulus(h_.re(i, i - 1), h_.im(i, i - 1));
      const Complex y{h_.re(i, i - 1) / norm, h_.im(i, i - 1) / norm};
      h_.re(i, i - 1) = norm;
      h_.im(i, i - 1) = 0.0;
      multiplyRun(&h_.re(i, 0), &h_.im(i, 0), h_.re.ld(), i, kVectors ? n_ - 1 : high, y, true);
      multiplyRun(h_.re.column(i), h_.im.column(i), 1, kVectors ? 0 : block_.low,
                  std::min(i + 1, high), y, false);
      if constexpr (kVectors) {
        multiplyRun(z_.re.column(i), z_.im.column(i), 1, block_.low, high, y, false);
      }
    }
  }

  const char* run(int stepsAllowed, const Interrupt& stop) {
    for (int32_t i = 0; i < n_; ++i) {
      if (!block_.contains(i)) store(w_, i, h_(i, i));
    }
    Complex t;  // the shifts so far
    int its = 0;
    for (int32_t en = block_.high; en >= block_.low;) {
      if (stop.requested()) return msg::kInterrupted;
      const int32_t l = deflationPoint(en);
      if (l == en) {
        h_.re(en, en) += t.re;
        h_.im(en, en) += t.im;
        store(w_, en, h_(en, en));
        en -= 1, its = 0;
        continue;
      }
      if (its == stepsAllowed) return msg::kTooManyIterations;
      const Complex s = shift(en, its);
      for (int32_t i = block_.low; i <= en; ++i) {
        h_.re(i, i) -= s.re;
        h_.im(i, i) -= s.im;
      }
      t.re += s.re;
      t.im += s.im;
      ++its;
      step(l, en);
    }
    return nullptr;
  }

 private:
  int32_t deflationPoint(int32_t en) const {
    int32_t l = en;
    for (; l > block_.low; --l) {
      const double neighbours = std::fabs(h_.re(l - 1, l - 1)) + std::fabs(h_.im(l - 1, l - 1)) +
                                std::fabs(h_.re(l, l)) + std::fabs(h_.im(l, l));
      if (std::fabs(h_.re(l, l - 1)) <= kEpsilon * neighbours) break;
    }
    return l;
  }

  // Wilkinson's shift: the eigenvalue of the trailing 2 x 2 block nearer h(en, en); after
  // 10 and 20 steps an exceptional one made of the last sub-diagonal entries.
  Complex shift(int32_t en, int its) const {
    if (its == 10 || its == 20) {
      // An entry left of the matrix (a block of order 2 at its top) counts as zero.
      const double beyond = en >= 2 ? std::fabs(h_.re(en - 1, en - 2)) : 0.0;
      return {std::fabs(h_.re(en, en - 1)) + beyond, 0.0};
    }
    Complex s = h_(en, en);
    const double below = h_.re(en, en - 1);
    const Complex x{h_.re(en - 1, en) * below, h_.im(en - 1, en) * below};
    if (x.re == 0.0 && x.im == 0.0) return s;
    const Complex y{(h_.re(en - 1, en - 1) - s.re) / 2.0, (h_.im(en - 1, en - 1) - s.im) / 2.0};
    Complex z = principalRoot({y.re * y.re - y.im * y.im + x.re, 2.0 * y.re * y.im + x.im});
    if (y.re * z.re + y.im * z.im < 0.0) z = {-z.re, -z.im};
    const Complex q = SmithDivisor({y.re + z.re, y.im + z.im}).divide(x);
    s.re -= q.re;
    s.im -= q.im;
    return s;
  }

  // One QR step on rows and columns l .. en of the shifted block: rotations from the left
  // make it triangular, the same rotations from the right restore the Hessenberg form.
  void step(int32_t l, int32_t en) {
    // Rotation i (i = l+1 .. en) acts on rows i-1 and i of columns i on, and is made from
    // column i-1 once the rotations before it have reached that column. So the columns are
    // taken in groups, in turn: each column receives the rotations in order, and a group's
    // last column yields the rotation the next group starts with. Every entry meets the same
    // rotations in the same order as row by row; within a group the columns' chains of
    // rotations run side by side.
    constexpr int32_t kGroup = 8;
    const int32_t lastColumn = kVectors ? n_ - 1 : en;
    for (int32_t first = l; first <= lastColumn; first += kGroup) {
      const int32_t last = std::min(first + kGroup - 1, lastColumn);
      for (int32_t i = l + 1; i <= std::min(last, en); ++i) {
        if (i - 1 >= first) makeRotation(i);
        for (int32_t j = std::max(first, i); j <= last; ++j) rotateRows(j, i);
      }
      if (last < en) makeRotation(last + 1);
    }
    // A complex last diagonal entry is made real by a unit factor u.
    const bool scaled = h_.im(en, en) != 0.0;
    Complex u;
    if (scaled) {
      const double norm = modulus(h_.re(en, en), h_.im(en, en));
      u = {h_.re(en, en) / norm, h_.im(en, en) / norm};
      h_.re(en, en) = norm;
      h_.im(en, en) = 0.0;
      if constexpr (kVectors) {
        multiplyRun(&h_.re(en, 0), &h_.im(en, 0), h_.re.ld(), en + 1, n_ - 1, u, true);
      }
    }
    const int32_t firstRow = kVectors ? 0 : l;
    for (int32_t j = l + 1; j <= en; ++j) {
      const Complex x = load(w_, j - 1);
      const double c = h_.im(j, j - 1);
      rotateColumns(h_.column(j - 1), h_.column(j), x, c, firstRow, j, true);
      if constexpr (kVectors) {
        rotateColumns(z_.column(j - 1), z_.column(j), x, c, block_.low, block_.high, false);
      }
    }
    if (scaled) {
      multiplyRun(h_.re.column(en), h_.im.column(en), 1, firstRow, en, u, false);
      if constexpr (kVectors) {
        multiplyRun(z_.re.column(en), z_.im.column(en), 1, block_.low, block_.high, u, false);
      }
    }
  }

  // Rotation i zeroes the sub-diagonal entry h(i, i-1) against h(i-1, i-1): its (x, c) is
  // kept in w(i-1) and in the imaginary part of the zeroed entry.
  void makeRotation(int32_t i) {
    const double sr = h_.re(i, i - 1);
    h_.re(i, i - 1) = 0.0;
    const double dr = h_.re(i - 1, i - 1), di = h_.im(i - 1, i - 1);
    const double norm = std::sqrt(dr * dr + di * di + sr * sr);
    w_.re[i - 1] = dr / norm;
    w_.im[i - 1] = di / norm;
    h_.re(i - 1, i - 1) = norm;
    h_.im(i - 1, i - 1) = 0.0;
    h_.im(i, i - 1) = sr / norm;
  }

  // Rows i-1 and i of column j: (y, v) becomes (conj(x) y + c v, x v - c y).
  void rotateRows(int32_t j, int32_t i) {
    const double xr = w_.re[i - 1], xi = w_.im[i - 1];
    const double c = h_.im(i, i - 1);
    double* re = h_.re.column(j);
    double* im = h_.im.column(j);
    const double yr = re[i - 1], yi = im[i - 1];
    const double zr = re[i], zi = im[i];
    re[i - 1] = xr * yr + xi * yi + c * zr;
    im[i - 1] = xr * yi - xi * yr + c * zi;
    re[i] = xr * zr - xi * zi - c * yr;
    im[i] = xr * zi + xi * zr - c * yi;
  }

  // Columns y and v, rows first .. last, become x y + c v and conj(x) v - c y. In H, entry
  // `last` of y is the sub-diagonal entry just made zero: its imaginary part (holding c)
  // counts as zero and stays (`inTriangle`).
  static void rotateColumns(SplitColumn y, SplitColumn v, Complex x, double c, int32_t first,
                            int32_t last, bool inTriangle) {
    rotateComplexColumns(y, v, x, c, first, inTriangle ? last - 1 : last);
    if (inTriangle && last >= first) {
      const double y0 = y.re[last], y1 = 0.0;
      const double v0 = v.re[last], v1 = v.im[last];
      y.re[last] = x.re * y0 - x.im * y1 + c * v0;
      v.re[last] = x.re * v0 + x.im * v1 - c * y0;
      v.im[last] = x.re * v1 - x.im * v0 - c * y1;
    }
  }

  View h_, z_;
  int32_t n_;
  Block block_;
  SplitColumn w_;
};

// Sum over the triangle i <= j of |re| + |im|, row by row.
double triangleNorm(const View& h, int32_t n) {
  double norm = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i; j < n; ++j) norm = norm + std::fabs(h.re(i, j)) + std::fabs(h.im(i, j));
  }
  return norm;
}

// The eigenvector entries in the rows balancing isolated are those of the triangle.
void copyIsolatedRows(const View& h, const View& z, int32_t n, Block block) {
  for (int32_t i = 0; i + 1 < n; ++i) {
    if (block.contains(i)) continue;
    for (int32_t j = i + 1; j < n; ++j) {
      z.re(i, j) = h.re(i, j);
      z.im(i, j) = h.im(i, j);
    }
  }
}

// What comeval and comevec share: the checks, the arrays in the order they are taken (the
// eigenvector arrays only for comevec, which also zero-fills its arrays), balancing, then
// the reflections' arrays and the reduction to Hessenberg form.
struct ComplexProblem {
  heap::Array<double> wr, wi, vr, vi, scale, ortr, orti;
  Block block{0, -1};

  const char* prepare(aMatrix* a, bool vectors, const Interrupt& stop) {
    if (a->rows < 1 || a->cols < 1) return msg::kInvalidDimension;
    if (a->rows != a->cols) return msg::kMustBeSquare;
    // Both parts are worked on; a caller passing a half matrix gets a message, not a crash.
    if (!a->re || !a->im) return msg::kUnknownError;
    const int32_t n = a->rows;
    const size_t count = size_t(n) * size_t(n);
    if (!allocate(wr, n, vectors) || !allocate(wi, n, vectors) ||
        (vectors && (!allocate(vr, count, true) || !allocate(vi, count, true))) ||
        !allocate(scale, n, vectors)) {
      return msg::kOutOfMemory;
    }
    const View h = View::of(a);
    block = balance(h, n, scale.get());
    const size_t reflections = size_t(block.high) + 2;
    if (!allocate(ortr, reflections) || !allocate(orti, reflections)) return msg::kOutOfMemory;
    // (wr, wi) hold sums until the eigenvalues fill them.
    return reduceUnitary(h, n, block, ortr.get(), orti.get(), w(), stop);
  }
  SplitColumn w() const { return {wr.get(), wi.get()}; }
};

}  // namespace

const char* reduceUnitary(View a, int32_t n, Block block, double* ortr, double* orti,
                          SplitColumn sums, const Interrupt& stop) {
  const int32_t high = block.high;
  for (int32_t m = block.low + 1; m < high; ++m) {
    if (stop.requested()) return msg::kInterrupted;
    ortr[m] = orti[m] = 0.0;
    double scale = 0.0;
    for (int32_t i = m; i <= high; ++i) {
      scale = scale + std::fabs(a.re(i, m - 1)) + std::fabs(a.im(i, m - 1));
    }
    if (scale == 0.0) continue;
    double h = 0.0;
    for (int32_t i = high; i >= m; --i) {
      ortr[i] = a.re(i, m - 1) / scale;
      orti[i] = a.im(i, m - 1) / scale;
      h = h + ortr[i] * ortr[i] + orti[i] * orti[i];
    }
    double g = std::sqrt(h);
    const double f = modulus(ortr[m], orti[m]);
    if (f == 0.0) {
      ortr[m] = g;
      a.re(m, m - 1) = scale;
    } else {
      h += f * g;
      g /= f;
      ortr[m] = (1.0 + g) * ortr[m];
      orti[m] = (1.0 + g) * orti[m];
    }
    reflectFromLeft(a, n, m, high, ortr, orti, h);
    reflectFromRight(a, m, high, ortr, orti, h, sums);
    ortr[m] *= scale;
    orti[m] *= scale;
    a.re(m, m - 1) *= -g;
    a.im(m, m - 1) *= -g;
  }
  return nullptr;
}

const char* complexSchur(View h, View z, int32_t n, Block block, SplitColumn w, int stepsAllowed,
                         const Interrupt& stop) {
  if (z.re) {
    ComplexQr<true> qr(h, z, n, block, w);
    qr.makeSubdiagonalReal();
    return qr.run(stepsAllowed, stop);
  }
  ComplexQr<false> qr(h, z, n, block, w);
  qr.makeSubdiagonalReal();
  return qr.run(stepsAllowed, stop);
}

const char* backSubstituteTriangle(View h, int32_t n, SplitColumn w, double norm,
                                   const Interrupt& stop) {
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j) {
      h.re(j, i) = h.re(i, j);
      h.im(j, i) = h.im(i, j);
    }
  }
  for (int32_t en = n - 1; en >= 1; --en) {
    if (stop.requested()) return msg::kInterrupted;
    const double xr = w.re[en], xi = w.im[en];
    double* vr = h.re.column(en);
    double* vi = h.im.column(en);
    for (int32_t i = en - 1; i >= 0; --i) {
      // Row i of the triangle, as column i of the transposed copy.
      const double* rowRe = h.re.column(i);
      const double* rowIm = h.im.column(i);
      double zr = vr[i], zi = vi[i];
      for (int32_t j = i + 1; j < en; ++j) {
        zr = zr + rowRe[j] * vr[j] - rowIm[j] * vi[j];
        zi = zi + rowRe[j] * vi[j] + rowIm[j] * vr[j];
      }
      double yr = xr - w.re[i];
      const double yi = xi - w.im[i];
      if (yr == 0.0 && yi == 0.0) yr = kEpsilon * norm;
      const Complex v = SmithDivisor({yr, yi}).divide({zr, zi});
      vr[i] = v.re;
      vi[i] = v.im;
    }
  }
  return nullptr;
}

const char* multiplyBackComplex(View h, View z, int32_t n, Block block, const Interrupt& stop) {
  for (int32_t j = n - 1; j > block.low; --j) {
    if (stop.requested()) return msg::kInterrupted;
    double* re = z.re.column(j);
    double* im = z.im.column(j);
    const int32_t last = std::min(j - 1, block.high);
    // Two terms at a time: each entry stays in registers between them, in order.
    int32_t k = block.low;
    for (; k + 1 <= last; k += 2) {
      const SplitColumn x0 = z.column(k), x1 = z.column(k + 1);
      const double hr0 = h.re(k, j), hi0 = h.im(k, j);
      const double hr1 = h.re(k + 1, j), hi1 = h.im(k + 1, j);
      for (int32_t i = block.low; i <= block.high; ++i) {
        double r = re[i], s = im[i];
        r = r + x0.re[i] * hr0 - x0.im[i] * hi0;
        s = s + x0.re[i] * hi0 + x0.im[i] * hr0;
        r = r + x1.re[i] * hr1 - x1.im[i] * hi1;
        s = s + x1.re[i] * hi1 + x1.im[i] * hr1;
        re[i] = r;
        im[i] = s;
      }
    }
    for (; k <= last; ++k) {
      const SplitColumn x = z.column(k);
      const double hr = h.re(k, j), hi = h.im(k, j);
      for (int32_t i = block.low; i <= block.high; ++i) {
        re[i] = re[i] + x.re[i] * hr - x.im[i] * hi;
        im[i] = im[i] + x.re[i] * hi + x.im[i] * hr;
      }
    }
  }
  return nullptr;
}

}  // namespace eigen

const char* comeval(UfnCallContext* ctx, aMatrix* a, aVector** values, double /*tol*/) {
  const Interrupt stop(ctx);
  eigen::ComplexProblem p;
  if (const char* failure = p.prepare(a, false, stop)) return failure;
  const int32_t n = a->rows;
  constexpr int kStepsPerValue = 31;
  if (const char* failure = eigen::complexSchur(linalg::ComplexField::View::of(a), {}, n, p.block,
                                                p.w(), kStepsPerValue, stop)) {
    return failure;
  }
  *values = newMatrix(ctx, n, 1, p.wr, p.wi);
  return *values ? nullptr : msg::kOutOfMemory;
}

const char* comevec(UfnCallContext* ctx, aMatrix* a, aMatrix** values, aMatrix** vectors) {
  const Interrupt stop(ctx);
  eigen::ComplexProblem p;
  if (const char* failure = p.prepare(a, true, stop)) return failure;
  const int32_t n = a->rows;
  const auto h = linalg::ComplexField::View::of(a);
  *vectors = newMatrix(ctx, n, n, p.vr, p.vi);
  if (!*vectors) return msg::kOutOfMemory;
  const auto z = linalg::ComplexField::View::of(*vectors);

  eigen::accumulateReflections(h, z, n, p.block, p.ortr.get(), p.orti.get());
  constexpr int kStepsPerValue = 30;
  if (const char* failure = eigen::complexSchur(h, z, n, p.block, p.w(), kStepsPerValue, stop)) {
    return failure;
  }
  const double norm = eigen::triangleNorm(h, n);
  if (n > 1 && norm != 0.0) {
    if (const char* failure = eigen::backSubstituteTriangle(h, n, p.w(), norm, stop)) {
      return failure;
    }
    eigen::copyIsolatedRows(h, z, n, p.block);
    if (const char* failure = eigen::multiplyBackComplex(h, z, n, p.block, stop)) return failure;
  }
  eigen::unbalanceRows(z.re, n, p.block, p.scale.get());
  eigen::unbalanceRows(z.im, n, p.block, p.scale.get());
  eigen::scaleColumnsToUnitPeak(z, n);
  *values = newMatrix(ctx, n, 1, p.wr, p.wi);
  return *values ? nullptr : msg::kOutOfMemory;
}
