// The real general eigensolver: evec and eval (eigen/eigen.h).
//
//   [0, 1; -1, 0]     values (1i, -1i), in that order; vectors conjugate, each holding a 1
//   [2, 0; 0, 3]      values (2, 3): balancing isolates both, no QR step runs
//   upper triangular  value i = a(i, i), every one isolated or deflated at once
//
// The steps: balance (eigen/steps.h); reduce the block to Hessenberg form by stabilised
// elimination; accumulate those transformations into Z; find the eigenvalues by the Francis
// double-shift QR iteration with Wilkinson's exceptional shifts after 10, 20 and 30 steps and
// at most 40 steps per eigenvalue, deflating on a sub-diagonal entry below machine epsilon
// times its diagonal neighbours; find the eigenvectors of the quasi-triangular result by
// back-substitution, multiply them back by Z and undo the balancing; finally turn complex
// pairs into complex columns, each divided by its first component of largest modulus.
//
// Loops run down columns where an element's sequence of operations allows: the elimination,
// the back-substitution (over a transposed copy of the triangle) and the back
// multiplication. In the QR sweeps each step's reflection from the right and its
// accumulation into Z run down three columns (eigen/sweep_kernels.h); its reflection from the
// left reaches the columns beyond the current window in batches of steps. Every element
// still meets the published routines' operations in their order, so the results are theirs
// bit for bit.
#include "eigen/general.h"

#include <algorithm>
#include <cmath>

#include "eigen/eigen.h"
#include "eigen/sweep_kernels.h"
#include "linalg/field.h"
#include "linalg/kernels.h"
#include "linalg/rotations.h"
#include "pack/heap.h"
#include "pack/messages.h"
#include "pack/ownership.h"

namespace eigen {
namespace {

using linalg::Complex;
using linalg::SmithDivisor;

using linalg::kEpsilon;
constexpr int kStepsPerValue = 40;

// y(r) -= multipliers(r) * a for r = first .. last where the row's flag is set; `flags`
// null when every row's is.
void subtractFlagged(double* y, const double* multipliers, const double* flags, double a,
                     int32_t first, int32_t last) {
  if (!flags) {
    if (last >= first)
      linalg::subtractMultiple(y + first, multipliers + first, a, last - first + 1);
    return;
  }
  for (int32_t r = first; r <= last; ++r) {
    if (flags[r] != 0.0) y[r] -= multipliers[r] * a;
  }
}

// y(r) += x(r) * a for r = 0 .. last.
void addMultiple(double* __restrict y, const double* __restrict x, double a, int32_t last) {
  for (int32_t r = 0; r <= last; ++r) y[r] += a * x[r];
}

}  // namespace

// Step m in the row-by-row formulation: for each i > m whose a(i, m-1) is not zero, form
// y = a(i, m-1) / x, subtract y times row m from row i (columns m ..), then add y times
// column i to column m (rows .. high). Here the rows' subtractions run down columns: column
// i receives them from rows up to i before column m reads it, and from the rows below after;
// column m receives row i's subtraction between the additions of columns before and from i.
// rowFlags marks the rows i whose a(i, m-1) was not zero (a quotient may underflow to 0).
const char* eliminateToHessenberg(PartView a, int32_t n, Block block, double* pivots,
                                  double* rowFlags, const Interrupt& stop) {
  const int32_t high = block.high;
  for (int32_t m = block.low + 1; m < high; ++m) {
    if (stop.requested()) return msg::kInterrupted;
    double x = 0.0;
    int32_t pivot = m;
    for (int32_t j = m; j <= high; ++j) {
      if (std::fabs(a(j, m - 1)) > std::fabs(x)) x = a(j, m - 1), pivot = j;
    }
    pivots[m] = pivot;
    if (pivot != m) {
      for (int32_t j = m - 1; j < n; ++j) std::swap(a(pivot, j), a(m, j));
      for (int32_t j = 0; j <= high; ++j) std::swap(a(j, pivot), a(j, m));
    }
    if (x == 0.0) continue;

    double* multipliers = a.column(m - 1);
    bool everyRow = true;
    for (int32_t i = m + 1; i <= high; ++i) {
      rowFlags[i] = multipliers[i] != 0.0 ? 1.0 : 0.0;
      if (rowFlags[i] != 0.0) multipliers[i] /= x;
      everyRow = everyRow && rowFlags[i] != 0.0;
    }
    const double* flags = everyRow ? nullptr : rowFlags;
    double* columnM = a.column(m);
    for (int32_t i = m + 1; i <= high; ++i) {
      double* columnI = a.column(i);
      if (rowFlags[i] != 0.0) columnM[i] -= multipliers[i] * columnM[m];
      subtractFlagged(columnI, multipliers, flags, columnI[m], m + 1, i);
      if (rowFlags[i] != 0.0) addMultiple(columnM, columnI, multipliers[i], high);
      subtractFlagged(columnI, multipliers, flags, columnI[m], i + 1, high);
    }
    for (int32_t j = high + 1; j < n; ++j) {
      double* column = a.column(j);
      subtractFlagged(column, multipliers, flags, column[m], m + 1, high);
    }
  }
  return nullptr;
}

const char* backSubstitute(PartView h, int32_t n, const double* wr, const double* wi, double norm,
                           PartView rows, const Interrupt& stop) {
  // rows(j, i) = h(i, j) for j > i.
  for (int32_t i = 0; i < n; ++i) {
    double* row = rows.column(i);
    for (int32_t j = i + 1; j < n; ++j) row[j] = h(i, j);
  }
  for (int32_t en = n - 1; en >= 0; --en) {
    if (stop.requested()) return msg::kInterrupted;
    const double p = wr[en];
    double q = wi[en];
    if (q > 0.0) continue;  // the first of a pair: solved with the second
    double* vector = h.column(en);
    // w, zz, r, s, x, y follow the published routine: a 2 x 2 block's second row is
    // remembered in zz, r, s while its first row is reached.
    double w, zz = 0.0, r = 0.0, s = 0.0, x, y, t;
    if (q == 0.0) {
      int32_t m = en;
      vector[en] = 1.0;
      for (int32_t i = en - 1; i >= 0; --i) {
        const double* row = rows.column(i);
        w = h(i, i) - p;
        r = vector[i];
        for (int32_t j = m; j < en; ++j) r += row[j] * vector[j];
        if (wi[i] < 0.0) {
          zz = w;
          s = r;
          continue;
        }
        m = i;
        if (wi[i] == 0.0) {
          t = w != 0.0 ? w : kEpsilon * norm;
          vector[i] = -r / t;
          continue;
        }
        x = h(i, i + 1);
        y = h(i + 1, i);
        q = (wr[i] - p) * (wr[i] - p) + wi[i] * wi[i];
        t = (x * s - zz * r) / q;
        vector[i] = t;
        vector[i + 1] = std::fabs(x) > std::fabs(zz) ? (-r - w * t) / x : (-s - y * t) / zz;
      }
      continue;
    }
    // A complex pair: real parts into column na, imaginary parts into column en, the last
    // component chosen imaginary so the vectors stay triangular.
    const int32_t na = en - 1;
    double* real = h.column(na);
    int32_t m = na;
    if (std::fabs(h(en, na)) > std::fabs(h(na, en))) {
      real[na] = q / h(en, na);
      vector[na] = -(h(en, en) - p) / h(en, na);
    } else {
      const Complex c = SmithDivisor({h(na, na) - p, q}).divide({0.0, -h(na, en)});
      real[na] = c.re;
      vector[na] = c.im;
    }
    real[en] = 0.0;
    vector[en] = 1.0;
    for (int32_t i = na - 1; i >= 0; --i) {
      const double* row = rows.column(i);
      w = h(i, i) - p;
      double ra = 0.0, sa = vector[i];
      for (int32_t j = m; j <= na; ++j) {
        ra += row[j] * real[j];
        sa += row[j] * vector[j];
      }
      if (wi[i] < 0.0) {
        zz = w;
        r = ra;
        s = sa;
        continue;
      }
      m = i;
      if (wi[i] == 0.0) {
        const Complex c = SmithDivisor({w, q}).divide({-ra, -sa});
        real[i] = c.re;
        vector[i] = c.im;
        continue;
      }
      x = h(i, i + 1);
      y = h(i + 1, i);
      double vr = (wr[i] - p) * (wr[i] - p) + wi[i] * wi[i] - q * q;
      const double vi = (wr[i] - p) * 2.0 * q;
      if (vr == 0.0 && vi == 0.0) {
        vr = kEpsilon * norm *
             (std::fabs(w) + std::fabs(q) + std::fabs(x) + std::fabs(y) + std::fabs(zz));
      }
      const Complex c =
          SmithDivisor({vr, vi}).divide({x * r - zz * ra + q * sa, x * s - zz * sa - q * ra});
      real[i] = c.re;
      vector[i] = c.im;
      if (std::fabs(x) > std::fabs(zz) + std::fabs(q)) {
        real[i + 1] = (-ra - w * real[i] + q * vector[i]) / x;
        vector[i + 1] = (-sa - w * vector[i] - q * real[i]) / x;
      } else {
        const Complex d = SmithDivisor({zz, q}).divide({-r - y * real[i], -s - y * vector[i]});
        real[i + 1] = d.re;
        vector[i + 1] = d.im;
      }
    }
  }
  return nullptr;
}

const char* multiplyBack(PartView h, PartView z, int32_t n, Block block, double* sums,
                         const Interrupt& stop) {
  for (int32_t j = n - 1; j >= block.low; --j) {
    if (stop.requested()) return msg::kInterrupted;
    const int32_t last = std::min(j, block.high);
    for (int32_t i = block.low; i <= block.high; ++i) sums[i] = 0.0;
    // Four terms at a time: each row's sum stays in a register between them, in order.
    int32_t k = block.low;
    for (; k + 3 <= last; k += 4) {
      const double *z0 = z.column(k), *z1 = z.column(k + 1), *z2 = z.column(k + 2),
                   *z3 = z.column(k + 3);
      const double h0 = h(k, j), h1 = h(k + 1, j), h2 = h(k + 2, j), h3 = h(k + 3, j);
      for (int32_t i = block.low; i <= block.high; ++i) {
        sums[i] = sums[i] + z0[i] * h0 + z1[i] * h1 + z2[i] * h2 + z3[i] * h3;
      }
    }
    for (; k <= last; ++k) {
      const double* column = z.column(k);
      const double factor = h(k, j);
      for (int32_t i = block.low; i <= block.high; ++i) sums[i] += column[i] * factor;
    }
    double* target = z.column(j);
    for (int32_t i = block.low; i <= block.high; ++i) target[i] = sums[i];
  }
  return nullptr;
}

namespace {

// The Francis double-shift QR iteration on the Hessenberg block of `h`, with the
// transformations accumulated into `z` when it is a matrix (kVectors). Eigenvalues go to
// (wr, wi) at their diagonal positions.
template <bool kVectors>
class DoubleShiftQr {
 public:
  DoubleShiftQr(PartView h, PartView z, int32_t n, Block block, double* wr, double* wi)
      : h_(h), z_(z), n_(n), block_(block), wr_(wr), wi_(wi) {}

  // The 1-norm of the Hessenberg matrix, over rows from the sub-diagonal on.
  double norm() const { return norm_; }

  const char* run(const Interrupt& stop) {
    for (int32_t i = 0; i < n_; ++i) {
      for (int32_t j = std::max(i - 1, 0); j < n_; ++j) norm_ += std::fabs(h_(i, j));
      if (!block_.contains(i)) wr_[i] = h_(i, i), wi_[i] = 0.0;
    }
    double t = 0.0;  // the exceptional shifts so far
    int its = 0;
    for (int32_t en = block_.high; en >= block_.low;) {
      if (stop.requested()) return msg::kInterrupted;
      const int32_t l = deflationPoint(en);
      double x = h_(en, en);
      if (l == en) {
        h_(en, en) = x + t;
        wr_[en] = h_(en, en), wi_[en] = 0.0;
        en -= 1, its = 0;
        continue;
      }
      double y = h_(en - 1, en - 1);
      double w = h_(en, en - 1) * h_(en - 1, en);
      if (l == en - 1) {
        twoRoots(en, x, y, w, t);
        en -= 2, its = 0;
        continue;
      }
      if (its == kStepsPerValue) return msg::kTooManyIterations;
      if (its == 10 || its == 20 || its == 30) {
        t += x;
        for (int32_t i = block_.low; i <= en; ++i) h_(i, i) -= x;
        const double s = std::fabs(h_(en, en - 1)) + std::fabs(h_(en - 1, en - 2));
        x = 0.75 * s;
        y = x;
        w = -0.4375 * s * s;
      }
      ++its;
      doubleStep(l, en, x, y, w);
    }
    return nullptr;
  }

 private:
  // The largest l in low+1 .. en whose sub-diagonal entry is negligible, or low.
  int32_t deflationPoint(int32_t en) const {
    int32_t l = en;
    for (; l > block_.low; --l) {
      double s = std::fabs(h_(l - 1, l - 1)) + std::fabs(h_(l, l));
      if (s == 0.0) s = norm_;
      if (std::fabs(h_(l, l - 1)) <= kEpsilon * s) break;
    }
    return l;
  }

  // The 2 x 2 block at en-1, en has deflated: a real pair (triangularised by one rotation
  // when vectors are wanted) or a complex pair, positive imaginary part first.
  void twoRoots(int32_t en, double x, double y, double w, double t) {
    const int32_t na = en - 1;
    double p = (y - x) / 2.0;
    double q = p * p + w;
    double zz = std::sqrt(std::fabs(q));
    h_(en, en) = x + t;
    x = h_(en, en);
    h_(na, na) = y + t;
    if (q < 0.0) {
      wr_[na] = wr_[en] = x + p;
      wi_[na] = zz, wi_[en] = -zz;
      return;
    }
    zz = p >= 0.0 ? p + zz : p - zz;
    wr_[na] = x + zz;
    wr_[en] = wr_[na];
    if (zz != 0.0) wr_[en] = x - w / zz;
    wi_[na] = wi_[en] = 0.0;
    if constexpr (kVectors) {
      x = h_(en, na);
      const double s = std::fabs(x) + std::fabs(zz);
      p = x / s;
      q = zz / s;
      const double r = std::sqrt(p * p + q * q);
      p /= r;
      q /= r;
      // (row na, row en) becomes (q na + p en, q en - p na); likewise the columns.
      for (int32_t j = na; j < n_; ++j) {
        const double above = h_(na, j);
        h_(na, j) = q * above + p * h_(en, j);
        h_(en, j) = q * h_(en, j) - p * above;
      }
      linalg::rotateColumns(h_.column(na), h_.column(en), q, p, en + 1);
      linalg::rotateColumns(z_.column(na) + block_.low, z_.column(en) + block_.low, q, p,
                            block_.high - block_.low + 1);
    }
  }

  // One double-shift QR step on rows and columns l .. en with the shifts' sum and product
  // given by x + y and x y - w.
  void doubleStep(int32_t l, int32_t en, double x, double y, double w) {
    // Look for two consecutive small sub-diagonal entries to start the bulge below.
    double p, q, r;
    int32_t m = en - 2;
    for (;; --m) {
      const double zz = h_(m, m);
      r = x - zz;
      double s = y - zz;
      p = (r * s - w) / h_(m + 1, m) + h_(m, m + 1);
      q = h_(m + 1, m + 1) - zz - r - s;
      r = h_(m + 2, m + 1);
      s = std::fabs(p) + std::fabs(q) + std::fabs(r);
      p /= s;
      q /= s;
      r /= s;
      if (m == l) break;
      if (std::fabs(h_(m, m - 1)) * (std::fabs(q) + std::fabs(r)) <=
          kEpsilon * std::fabs(p) *
              (std::fabs(h_(m - 1, m - 1)) + std::fabs(zz) + std::fabs(h_(m + 1, m + 1)))) {
        break;
      }
    }
    for (int32_t i = m + 2; i <= en; ++i) {
      h_(i, i - 2) = 0.0;
      if (i != m + 2) h_(i, i - 3) = 0.0;
    }
    // Chase the bulge with reflections I - v v^T of order 3 (order 2 at the last row).
    // Step k's reflection from the left acts on rows k .. k+2 of every column from k on;
    // only the columns its reflection from the right reads next (k .. k+2, the window) need
    // it at once. The others receive the steps in batches, down each column in turn, in
    // the order the steps were taken.
    const int32_t lastColumn = kVectors ? n_ - 1 : en;
    Batch batch;
    int32_t current = m - 1;  // columns up to here have every step so far
    for (int32_t k = m; k < en; ++k) {
      const bool order3 = k != en - 1;
      double scale = 0.0;
      if (k != m) {
        catchUp(batch, current, k - 1);
        p = h_(k, k - 1);
        q = h_(k + 1, k - 1);
        r = order3 ? h_(k + 2, k - 1) : 0.0;
        scale = std::fabs(p) + std::fabs(q) + std::fabs(r);
        if (scale == 0.0) continue;
        p /= scale;
        q /= scale;
        r /= scale;
      }
      double s = std::sqrt(p * p + q * q + r * r);
      if (p < 0.0) s = -s;
      if (k != m) {
        h_(k, k - 1) = -s * scale;
      } else if (l != m) {
        h_(k, k - 1) = -h_(k, k - 1);
      }
      p += s;
      const BulgeStep step{k, order3, {p / s, q / s, r / s, q / p, r / p}};
      batch.steps[batch.count++] = step;
      if (current >= k) reflectRows(h_.column(k) + k, h_.ld(), step, current - k + 1);
      // The window's new column comes with the next few, which then take steps at once.
      const int32_t window = std::min(k + (order3 ? 2 : 1), lastColumn);
      if (window > current) {
        catchUp(batch, current, std::max(window, std::min(current + kGroup, lastColumn)));
      }
      reflectColumns(step, en, l);
      if (k + 2 - batch.steps[0].k > Batch::kCapacity) {
        // All columns have the batch; those right of the window start the next one. (A
        // batch spans at most kCapacity rows of steps, skipped ones included.)
        catchUp(batch, current, lastColumn);
        batch.count = 0;
        current = window;
      }
    }
    catchUp(batch, current, lastColumn);
  }

  // The steps of the sweep so far that columns right of `current` still lack (they have
  // every earlier one).
  struct Batch {
    static constexpr int kCapacity = 32;
    BulgeStep steps[kCapacity];
    int count = 0;
  };

  // Brings columns current+1 .. last up to date with the batch's steps (a step reaches the
  // columns from its own index on), and moves `current` there. A group of columns at a
  // time is copied out row by row, so that each step's rows run across the group
  // contiguously; one column's steps depend on each other, the group's columns do not.
  static constexpr int32_t kGroup = 32;
  void catchUp(const Batch& batch, int32_t& current, int32_t last) {
    if (batch.count == 0) {
      current = std::max(current, last);
      return;
    }
    const int32_t top = batch.steps[0].k;
    const int32_t bottom = std::min(batch.steps[batch.count - 1].k + 2, n_ - 1);
    const int32_t rows = bottom - top + 1;
    double block[(Batch::kCapacity + 2) * kGroup];
    for (int32_t first = current + 1; first <= last; first += kGroup) {
      const int32_t width = std::min(kGroup, last - first + 1);
      for (int32_t c = 0; c < width; ++c) {
        const double* column = h_.column(first + c) + top;
        for (int32_t r = 0; r < rows; ++r) block[r * width + c] = column[r];
      }
      reflectBlockRows(block, width, top, first, batch.steps, batch.count);
      for (int32_t c = 0; c < width; ++c) {
        double* column = h_.column(first + c) + top;
        for (int32_t r = 0; r < rows; ++r) column[r] = block[r * width + c];
      }
    }
    current = std::max(current, last);
  }

  // A step's reflection from the left on `count` columns `stride` apart, starting at
  // `rows`, their rows k .. k+2 (k .. k+1 at the last bulge position).
  static void reflectRows(double* rows, ptrdiff_t stride, const BulgeStep& step, int32_t count) {
    const Reflector& v = step.v;
    if (step.order3) {
      for (int32_t t = 0; t < count; ++t) {
        double* c = rows + t * stride;
        const double p = c[0] + v.q * c[1] + v.r * c[2];
        c[2] -= p * v.zz;
        c[1] -= p * v.y;
        c[0] -= p * v.x;
      }
    } else {
      for (int32_t t = 0; t < count; ++t) {
        double* c = rows + t * stride;
        const double p = c[0] + v.q * c[1];
        c[1] -= p * v.y;
        c[0] -= p * v.x;
      }
    }
  }

  // A step's reflection from the right: columns k .. k+2 over rows (from the top, or from
  // l) .. min(en, k+3), and of Z over the block's rows.
  void reflectColumns(const BulgeStep& step, int32_t en, int32_t l) {
    const int32_t k = step.k;
    const int32_t firstRow = kVectors ? 0 : l;
    const int32_t lastRow = std::min(en, k + 3);
    eigen::reflectColumns(h_.column(k), h_.column(k + 1), step.order3 ? h_.column(k + 2) : nullptr,
                          step.v, firstRow, lastRow);
    if constexpr (kVectors) {
      eigen::reflectColumns(z_.column(k), z_.column(k + 1),
                            step.order3 ? z_.column(k + 2) : nullptr, step.v, block_.low,
                            block_.high);
    }
  }

  PartView h_, z_;
  int32_t n_;
  Block block_;
  double *wr_, *wi_;
  double norm_ = 0.0;
};

}  // namespace

const char* realSchur(PartView h, PartView z, int32_t n, Block block, double* wr, double* wi,
                      double& norm, const Interrupt& stop) {
  if (z) {
    DoubleShiftQr<true> qr(h, z, n, block, wr, wi);
    const char* failure = qr.run(stop);
    norm = qr.norm();
    return failure;
  }
  DoubleShiftQr<false> qr(h, z, n, block, wr, wi);
  const char* failure = qr.run(stop);
  norm = qr.norm();
  return failure;
}

namespace {

// Z = the product of the elimination's transformations, from the multipliers left in `a`
// and the pivot rows.
void accumulateElimination(PartView a, PartView z, int32_t n, Block block, const double* pivots) {
  for (int32_t j = 0; j < n; ++j) z(j, j) = 1.0;
  for (int32_t mp = block.high - 1; mp > block.low; --mp) {
    for (int32_t i = mp + 1; i <= block.high; ++i) z(i, mp) = a(i, mp - 1);
    const auto i = static_cast<int32_t>(pivots[mp]);
    if (i == mp) continue;
    for (int32_t j = mp; j <= block.high; ++j) {
      z(mp, j) = z(i, j);
      z(i, j) = 0.0;
    }
    z(i, mp) = 1.0;
  }
}

// The eigenvector columns of the rows balancing isolated are those of the triangle.
void copyIsolatedRows(PartView h, PartView z, int32_t n, Block block) {
  for (int32_t i = 0; i < n; ++i) {
    if (block.contains(i)) continue;
    for (int32_t j = i; j < n; ++j) z(i, j) = h(i, j);
  }
}

// Turns the real matrix of eigenvectors (vr; a complex pair's real and imaginary parts in
// two columns) into complex columns, one per eigenvalue: the pair's columns become u + iv
// and u - iv, in the order of the signs of their eigenvalues' imaginary parts.
void formComplexColumns(PartView vr, PartView vi, int32_t n, const double* wi) {
  for (int32_t j = 0; j < n;) {
    if (wi[j] == 0.0 || j + 1 == n) {
      std::fill(vi.column(j), vi.column(j) + n, 0.0);
      j += 1;
      continue;
    }
    const double sign = wi[j] > 0.0 ? 1.0 : -1.0;
    const double* u = vr.column(j);
    const double* v = vr.column(j + 1);
    double* first = vi.column(j);
    double* second = vi.column(j + 1);
    for (int32_t i = 0; i < n; ++i) {
      first[i] = sign > 0.0 ? v[i] : -v[i];
      second[i] = sign > 0.0 ? -v[i] : v[i];
    }
    std::copy(u, u + n, vr.column(j + 1));
    j += 2;
  }
}

// What evec and eval share: the checks, the arrays in the order they are taken (the
// eigenvector arrays only for evec, zero-filled), balancing, then the pivot record and the
// reduction to Hessenberg form.
struct RealProblem {
  heap::Array<double> wr, wi, vr, vi, scale, pivots;
  Block block{0, -1};

  const char* prepare(aMatrix* a, bool vectors, const Interrupt& stop) {
    if (a->rows < 1 || a->cols < 1) return msg::kInvalidDimension;
    if (a->rows != a->cols) return msg::kMustBeSquare;
    // A caller passing a matrix without its real part gets a message, not a crash.
    if (!a->re) return msg::kUnknownError;
    const int32_t n = a->rows;
    const size_t count = size_t(n) * size_t(n);
    if (!allocate(wr, n) || !allocate(wi, n) ||
        (vectors && (!allocate(vr, count, true) || !allocate(vi, count, true))) ||
        !allocate(scale, n)) {
      return msg::kOutOfMemory;
    }
    const PartView h = realPart(a);
    block = balance(linalg::RealField::View{h}, n, scale.get());
    if (!allocate(pivots, size_t(block.high) + 2)) return msg::kOutOfMemory;
    // wr serves as scratch until the eigenvalues fill it.
    return eliminateToHessenberg(h, n, block, pivots.get(), wr.get(), stop);
  }
};

}  // namespace
}  // namespace eigen

const char* evec(UfnCallContext* ctx, aMatrix* a, aMatrix** values, aMatrix** vectors) {
  const Interrupt stop(ctx);
  eigen::RealProblem p;
  if (const char* failure = p.prepare(a, true, stop)) return failure;
  const int32_t n = a->rows;
  const PartView h = realPart(a);
  *vectors = newMatrix(ctx, n, n, p.vr, p.vi);
  if (!*vectors) return msg::kOutOfMemory;
  const PartView zr = realPart(*vectors), zi = imagPart(*vectors);

  eigen::accumulateElimination(h, zr, n, p.block, p.pivots.get());
  double norm;
  if (const char* failure =
          eigen::realSchur(h, zr, n, p.block, p.wr.get(), p.wi.get(), norm, stop)) {
    return failure;
  }
  if (norm != 0.0) {
    // zi is free until the complex columns are formed.
    if (const char* failure = eigen::backSubstitute(h, n, p.wr.get(), p.wi.get(), norm, zi, stop)) {
      return failure;
    }
    eigen::copyIsolatedRows(h, zr, n, p.block);
    if (const char* failure = eigen::multiplyBack(h, zr, n, p.block, zi.data(), stop)) {
      return failure;
    }
  }
  eigen::unbalanceRows(zr, n, p.block, p.scale.get());
  eigen::formComplexColumns(zr, zi, n, p.wi.get());
  eigen::scaleColumnsToUnitPeak({zr, zi}, n);

  *values = newMatrix(ctx, n, 1, p.wr, p.wi);
  return *values ? nullptr : msg::kOutOfMemory;
}

const char* eval(UfnCallContext* ctx, aRealMatrix* a, aVector** values) {
  const Interrupt stop(ctx);
  eigen::RealProblem p;
  if (const char* failure = p.prepare(a, false, stop)) return failure;
  const int32_t n = a->rows;
  double norm;
  if (const char* failure = eigen::realSchur(realPart(a), PartView(), n, p.block, p.wr.get(),
                                             p.wi.get(), norm, stop)) {
    return failure;
  }
  *values = newMatrix(ctx, n, 1, p.wr, p.wi);
  return *values ? nullptr : msg::kOutOfMemory;
}
