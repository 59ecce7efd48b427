// The first two QZ stages: reduction to Hessenberg-triangular form and the QZ iteration
// (contracts in eigen/qz.h). Indices count from 0.
#include <algorithm>
#include <cmath>

#include "eigen/qz.h"
#include "eigen/qz_reflections.h"
#include "linalg/field.h"
#include "linalg/reflections.h"
#include "pack/messages.h"

namespace eigen {

namespace {

using namespace qz;

constexpr int kStepsPerBlock = 50;
constexpr int kAdHocStep = 10;  // the step count at which the fixed shift is used

void setIdentity(PartView z, int32_t n) {
  for (int32_t j = 0; j < n; ++j) {
    std::fill(z.column(j), z.column(j) + n, 0.0);
    z(j, j) = 1.0;
  }
}

// The Householder reflection that zeroes B below its diagonal in column l, applied to the
// columns of B right of l and to all of A. The reflection vector is B(l.., l) scaled by the
// sum of its magnitudes, with r = its length carrying B(l, l)'s sign added to its first
// element; each column y loses (v . y) / (r v(l)) times v.
void triangulariseColumn(PartView a, PartView b, int32_t n, int32_t l) {
  double* v = b.column(l) + l;
  const int32_t length = n - l;
  const double s = linalg::sumOfMagnitudes(v + 1, length - 1);
  if (s == 0.0) return;
  const double scale = s + std::fabs(v[0]);
  double r = 0.0;
  for (int32_t i = 0; i < length; ++i) {
    v[i] /= scale;
    r += v[i] * v[i];
  }
  r = std::copysign(std::sqrt(r), v[0]);
  v[0] += r;
  const double rho = r * v[0];
  // Four columns at a time, each updated while it is still in cache.
  auto reflect = [&](PartView m, int32_t first) {
    double sums[4];
    for (int32_t j = first; j < n; j += 4) {
      const int32_t count = std::min(4, n - j);
      linalg::dotProducts(v, m.column(j) + l, m.ld(), count, length, sums);
      for (int32_t q = 0; q < count; ++q) {
        linalg::addMultiple(m.column(j + q) + l, v, -sums[q] / rho, length);
      }
    }
  };
  reflect(b, l + 1);
  reflect(a, 0);
  v[0] = -scale * r;
  std::fill(v + 1, v + length, 0.0);
}

// Zeroes A(l + 1, k) against A(l, k) by a reflection of rows l and l + 1, then the
// B(l + 1, l) this creates by a reflection of columns l + 1 and l.
void zeroBelowSubdiagonal(PartView a, PartView b, PartView z, int32_t n, int32_t k, int32_t l) {
  const int32_t l1 = l + 1;
  if (std::fabs(a(l, k)) + std::fabs(a(l1, k)) == 0.0) return;
  const Reflection2 rows = reflection(a(l, k), a(l1, k));
  reflectRows(a, l, rows, k, n - 1);
  a(l1, k) = 0.0;
  reflectRows(b, l, rows, l, n - 1);
  if (std::fabs(b(l1, l1)) + std::fabs(b(l1, l)) == 0.0) return;
  const Reflection2 columns = reflection(b(l1, l1), b(l1, l));
  reflectColumns(b, l1, columns, 0, l1);
  b(l1, l) = 0.0;
  reflectColumns(a, l1, columns, 0, n - 1);
  if (z) reflectColumns(z, l1, columns, 0, n - 1);
}

// The QZ iteration on one pencil. Rows and columns 0 .. en_ are not finished yet; the
// active block is ld_ .. en_ (ld_ where it last split off above), and a step works on
// l_ .. en_ with l_ >= ld_.
class Iteration {
 public:
  Iteration(PartView a, PartView b, PartView z, int32_t n);

  const char* run(const Interrupt& stop);
  double epsb() const { return epsb_; }

 private:
  // The places the iteration moves between.
  enum class Stage {
    kNextBlock,   // start on the block ending at en_, or finish
    kScan,        // find the lowest negligible subdiagonal element of A
    kSplit,       // zero A(l_, l_ - 1); a block of one or two rows at the bottom is done
    kSplitPoint,  // the active part starts at l_
    kCheckTop,    // chase out a negligible B(l_, l_)
    kShift,       // choose the shift
    kSweep,       // one QZ step from row l_
  };

  Stage checkTop();
  Stage chooseShift();
  Stage singleShift();
  void sweep();

  PartView a_, b_, z_;
  int32_t n_;
  double epsa_, epsb_;
  int32_t en_, l_ = 0, ld_ = 0;
  // Transformations from the left reach columns up to lastColumn_, those from the right
  // rows from firstRow_ on: the whole matrix when Z is accumulated, else the active block.
  int32_t lastColumn_, firstRow_ = 0;
  // Steps spent on the current block; a single (1) or double (2) shift; the first column of
  // the shifted pencil (a1_, a2_, a3_); the single shift and the scaled A(l, l), A(l+1, l).
  int its_ = 0, shiftKind_ = 2;
  double a1_ = 0.0, a2_ = 0.0, a3_ = 0.0, shift_ = 0.0, a11_ = 0.0, a21_ = 0.0;
};

// epsa and epsb from the largest row sums of |A| (from the subdiagonal on) and |B| (from
// the diagonal on).
Iteration::Iteration(PartView a, PartView b, PartView z, int32_t n)
    : a_(a), b_(b), z_(z), n_(n), en_(n - 1), lastColumn_(n - 1) {
  double anorm = 0.0, bnorm = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    double ani = i == 0 ? 0.0 : std::fabs(a(i, i - 1));
    double bni = 0.0;
    for (int32_t j = i; j < n; ++j) {
      ani += std::fabs(a(i, j));
      bni += std::fabs(b(i, j));
    }
    if (ani > anorm) anorm = ani;
    if (bni > bnorm) bnorm = bni;
  }
  epsa_ = linalg::kEpsilon * (anorm == 0.0 ? 1.0 : anorm);
  epsb_ = linalg::kEpsilon * (bnorm == 0.0 ? 1.0 : bnorm);
}

const char* Iteration::run(const Interrupt& stop) {
  Stage stage = Stage::kNextBlock;
  for (;;) {
    switch (stage) {
      case Stage::kNextBlock:
        if (en_ <= 1) return nullptr;
        if (!z_) lastColumn_ = en_;
        its_ = 0;
        stage = Stage::kScan;
        break;
      case Stage::kScan:
        shiftKind_ = 2;
        for (l_ = en_; l_ > 0 && std::fabs(a_(l_, l_ - 1)) > epsa_;) --l_;
        stage = l_ == 0 ? Stage::kSplitPoint : Stage::kSplit;
        break;
      case Stage::kSplit:
        a_(l_, l_ - 1) = 0.0;
        if (l_ < en_ - 1) {
          stage = Stage::kSplitPoint;
        } else {
          en_ = l_ - 1;
          stage = Stage::kNextBlock;
        }
        break;
      case Stage::kSplitPoint:
        ld_ = l_;
        stage = Stage::kCheckTop;
        break;
      case Stage::kCheckTop:
        stage = checkTop();
        break;
      case Stage::kShift:
        if (shiftKind_ == 2 && its_ == kStepsPerBlock) return msg::kTooManyIterations;
        stage = chooseShift();
        break;
      case Stage::kSweep:
        if (stop.requested()) return msg::kInterrupted;
        ++its_;
        if (!z_) firstRow_ = ld_;
        sweep();
        stage = Stage::kScan;
        break;
    }
  }
}

// A negligible B(l, l) is set to zero and moved down by a reflection of rows l and l + 1,
// which splits the pencil below row l.
Iteration::Stage Iteration::checkTop() {
  const int32_t l = l_, l1 = l + 1;
  const double b11 = b_(l, l);
  if (std::fabs(b11) > epsb_) {
    a11_ = a_(l, l) / b11;
    a21_ = a_(l1, l) / b11;
    return Stage::kShift;
  }
  b_(l, l) = 0.0;
  const Reflection2 rows = reflection(a_(l, l), a_(l1, l));
  reflectRows(a_, l, rows, l, lastColumn_);
  reflectRows(b_, l, rows, l, lastColumn_);
  if (l != 0) a_(l, l - 1) = -a_(l, l - 1);
  l_ = l1;
  return Stage::kSplit;
}

// From the trailing 2 x 2 pencil: a double shift when its eigenvalues are complex, else
// a single shift by the one nearer A(en, en) / B(en, en). The 11th step of a block uses
// the fixed shift instead.
Iteration::Stage Iteration::chooseShift() {
  if (shiftKind_ == 1) return singleShift();
  if (its_ == kAdHocStep) {
    a1_ = 0.0, a2_ = 1.0, a3_ = 1.1605;
    return Stage::kSweep;
  }
  const int32_t l = l_, l1 = l + 1, na = en_ - 1, en = en_;
  auto atLeastEpsb = [&](double x) { return std::fabs(x) < epsb_ ? epsb_ : x; };
  const double b22 = atLeastEpsb(b_(l1, l1));
  const double b33 = atLeastEpsb(b_(na, na));
  const double b44 = atLeastEpsb(b_(en, en));
  const double a33 = a_(na, na) / b33, a34 = a_(na, en) / b44;
  const double a43 = a_(en, na) / b33, a44 = a_(en, en) / b44;
  const double b34 = b_(na, en) / b44;
  const double t = 0.5 * (a43 * b34 - a33 - a44);
  const double r = t * t + a34 * a43 - a33 * a44;
  if (r < 0.0) {
    const double a11 = a11_, a21 = a21_;
    const double a12 = a_(l, l1) / b22, a22 = a_(l1, l1) / b22, b12 = b_(l, l1) / b22;
    a1_ = ((a33 - a11) * (a44 - a11) - a34 * a43 + a43 * b34 * a11) / a21 + a12 - a11 * b12;
    a2_ = (a22 - a11) - a21 * b12 - (a33 - a11) - (a44 - a11) + a43 * b34;
    a3_ = a_(l1 + 1, l1) / b22;
    return Stage::kSweep;
  }
  shiftKind_ = 1;
  const double root = std::sqrt(r);
  shift_ = -t + root;
  const double other = -t - root;
  if (std::fabs(other - a44) < std::fabs(shift_ - a44)) shift_ = other;
  // Two consecutive small subdiagonal elements: the step can start lower, at row l.
  for (int32_t l = en - 2; l > ld_; --l) {
    double d = a_(l, l);
    if (std::fabs(b_(l, l)) > epsb_) d = d - shift_ * b_(l, l);
    if (std::fabs(a_(l, l - 1)) <= std::fabs(d / a_(l + 1, l)) * epsa_) {
      l_ = l;
      return Stage::kCheckTop;
    }
  }
  l_ = ld_;
  return singleShift();
}

Iteration::Stage Iteration::singleShift() {
  a1_ = a11_ - shift_;
  a2_ = a21_;
  if (l_ != ld_) a_(l_, l_ - 1) = -a_(l_, l_ - 1);
  return Stage::kSweep;
}

// One implicit QZ step from row l_: a reflection from the left starts the bulge from the
// shift's first column and chases it down A's subdiagonal; each one is followed by
// reflections from the right that restore B's triangle. The step ends early when the
// column a two-element reflection is made from is zero.
void Iteration::sweep() {
  const int32_t l = l_, na = en_ - 1;
  for (int32_t k = l; k <= na; ++k) {
    const int32_t k1 = k + 1, k2 = k + 2, km1 = std::max(k - 1, l);
    const int32_t last = std::min(en_, k1 + shiftKind_);
    if (k != na && shiftKind_ == 2) {
      if (k != l) a1_ = a_(k, km1), a2_ = a_(k1, km1), a3_ = a_(k2, km1);
      if (std::fabs(a1_) + std::fabs(a2_) + std::fabs(a3_) == 0.0) continue;
      const Reflection3 rows = reflection(a1_, a2_, a3_);
      reflectRows(a_, k, rows, km1, lastColumn_);
      reflectRows(b_, k, rows, km1, lastColumn_);
      if (k != l) a_(k1, km1) = 0.0, a_(k2, km1) = 0.0;
      if (std::fabs(b_(k2, k2)) + std::fabs(b_(k2, k1)) + std::fabs(b_(k2, k)) != 0.0) {
        const Reflection3 columns = reflection(b_(k2, k2), b_(k2, k1), b_(k2, k));
        reflectColumns(a_, k2, columns, firstRow_, last);
        reflectColumns(b_, k2, columns, firstRow_, last);
        b_(k2, k) = 0.0, b_(k2, k1) = 0.0;
        if (z_) reflectColumns(z_, k2, columns, 0, n_ - 1);
      }
    } else {
      if (k != l) a1_ = a_(k, km1), a2_ = a_(k1, km1);
      if (std::fabs(a1_) + std::fabs(a2_) == 0.0) return;
      const Reflection2 rows = reflection(a1_, a2_);
      reflectRows(a_, k, rows, km1, lastColumn_);
      reflectRows(b_, k, rows, km1, lastColumn_);
      if (k != l) a_(k1, km1) = 0.0;
    }
    if (std::fabs(b_(k1, k1)) + std::fabs(b_(k1, k)) == 0.0) continue;
    const Reflection2 columns = reflection(b_(k1, k1), b_(k1, k));
    reflectColumns(a_, k1, columns, firstRow_, last);
    reflectColumns(b_, k1, columns, firstRow_, last);
    b_(k1, k) = 0.0;
    if (z_) reflectColumns(z_, k1, columns, 0, n_ - 1);
  }
}

}  // namespace

const char* qz_hessenberg(PartView a, PartView b, PartView z, int32_t n, const Interrupt& stop) {
  if (z) setIdentity(z, n);
  for (int32_t l = 0; l + 1 < n; ++l) {
    if (stop.requested()) return msg::kInterrupted;
    triangulariseColumn(a, b, n, l);
  }
  for (int32_t k = 0; k + 2 < n; ++k) {
    if (stop.requested()) return msg::kInterrupted;
    for (int32_t l = n - 2; l > k; --l) zeroBelowSubdiagonal(a, b, z, n, k, l);
  }
  return nullptr;
}

const char* qz_iterate(PartView a, PartView b, PartView z, int32_t n, const Interrupt& stop) {
  Iteration iteration(a, b, z, n);
  const char* failure = iteration.run(stop);
  if (!failure && n >= 2) b(n - 1, 0) = iteration.epsb();
  return failure;
}

}  // namespace eigen
