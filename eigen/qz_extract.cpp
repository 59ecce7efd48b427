// The last two QZ stages: the generalised eigenvalues of the quasi-triangular pencil and
// its eigenvectors (contracts in eigen/qz.h). Indices count from 0.
#include <algorithm>
#include <cmath>

#include "eigen/qz.h"
#include "eigen/qz_reflections.h"
#include "pack/heap.h"
#include "pack/messages.h"

namespace eigen {

namespace {

using namespace qz;

// A discriminant this small, times sqrt(n), counts as zero.
constexpr double kDiscriminantFloor = 2.220446049250313e-14;

// One eigenvalue from the 1 x 1 block at (j, j): alpha = A(j, j), beta = |B(j, j)|, the
// sign of B moved onto alpha.
void realValue(PartView a, PartView b, int32_t j, double* alfr, double* alfi, double* beta) {
  alfr[j] = b(j, j) < 0.0 ? -a(j, j) : a(j, j);
  beta[j] = std::fabs(b(j, j));
  alfi[j] = 0.0;
}

// The 2 x 2 block at rows na, en = na + 1, with A's and B's entries each divided by the sum
// of their magnitudes (an, bn).
class Block {
 public:
  Block(PartView a, PartView b, PartView z, int32_t n, int32_t na)
      : a_(a), b_(b), z_(z), n_(n), na_(na), en_(na + 1) {}

  void values(double epsb, double* alfr, double* alfi, double* beta);

 private:
  void reflectFromRight(double a1, double a2);
  void reflectFromLeft(double a1, double a2);
  void complexPair(double e, double c, double d, double* alfr, double* alfi, double* beta);

  PartView a_, b_, z_;
  int32_t n_, na_, en_;
  double an_ = 0.0, bn_ = 0.0;
  double a11_ = 0.0, a12_ = 0.0, a21_ = 0.0, a22_ = 0.0, b11_ = 0.0, b12_ = 0.0, b22_ = 0.0;
};

// Columns en and na of A, B (rows 0 .. en) and Z (all rows), by the reflection for
// (a1, a2).
void Block::reflectFromRight(double a1, double a2) {
  const Reflection2 h = reflection(a1, a2);
  reflectColumns(a_, en_, h, 0, en_);
  reflectColumns(b_, en_, h, 0, en_);
  if (z_) reflectColumns(z_, en_, h, 0, n_ - 1);
}

// Rows na and en of A and B (columns na .. n-1), by the reflection for (a1, a2), unless
// both are zero.
void Block::reflectFromLeft(double a1, double a2) {
  if (std::fabs(a1) + std::fabs(a2) == 0.0) return;
  const Reflection2 h = reflection(a1, a2);
  reflectRows(a_, na_, h, na_, n_ - 1);
  reflectRows(b_, na_, h, na_, n_ - 1);
}

// A block with real eigenvalues is made triangular, by a reflection from the right that
// zeroes the row of the shifted block, then one from the left that zeroes B(en, na) (or
// A(en, na), whichever is better determined); a block with complex eigenvalues gives them
// from the complex transformations that would triangularise it.
void Block::values(double epsb, double* alfr, double* alfi, double* beta) {
  const int32_t na = na_, en = en_;
  PartView a = a_, b = b_;
  double e = 0.0;
  bool leftFromB = false;
  if (std::fabs(b(na, na)) > epsb) {
    if (std::fabs(b(en, en)) <= epsb) {
      reflectFromRight(a(en, en), a(en, na));
    } else {
      an_ =
          std::fabs(a(na, na)) + std::fabs(a(na, en)) + std::fabs(a(en, na)) + std::fabs(a(en, en));
      bn_ = std::fabs(b(na, na)) + std::fabs(b(na, en)) + std::fabs(b(en, en));
      a11_ = a(na, na) / an_, a12_ = a(na, en) / an_;
      a21_ = a(en, na) / an_, a22_ = a(en, en) / an_;
      b11_ = b(na, na) / bn_, b12_ = b(na, en) / bn_, b22_ = b(en, en) / bn_;
      e = a11_ / b11_;
      const double ei = a22_ / b22_;
      const double s = a21_ / (b11_ * b22_);
      double t = (a22_ - e * b22_) / b22_;
      if (std::fabs(e) > std::fabs(ei)) {
        e = ei;
        t = (a11_ - e * b11_) / b11_;
      }
      const double c = 0.5 * (t - s * b12_);
      double d = c * c + s * (a12_ - e * b12_);
      if (std::fabs(d) < std::sqrt(double(n_)) * kDiscriminantFloor) d = 0.0;
      if (d < 0.0) return complexPair(e, c, d, alfr, alfi, beta);
      // Two real roots: shift by one of them and zero the block's last row.
      e = e + (c + std::copysign(std::sqrt(d), c));
      const double a11 = a11_ - e * b11_, a12 = a12_ - e * b12_, a22 = a22_ - e * b22_;
      if (std::fabs(a11) + std::fabs(a12) < std::fabs(a21_) + std::fabs(a22)) {
        reflectFromRight(a22, a21_);
      } else {
        reflectFromRight(a12, a11);
      }
      leftFromB = !(an_ < std::fabs(e) * bn_);
    }
    if (bn_ != 0.0) {
      if (leftFromB) {
        reflectFromLeft(b(na, na), b(en, na));
      } else {
        reflectFromLeft(a(na, na), a(en, na));
      }
    }
  } else {
    reflectFromLeft(a(na, na), a(en, na));
  }
  a(en, na) = 0.0;
  b(en, na) = 0.0;
  realValue(a, b, na, alfr, alfi, beta);
  realValue(a, b, en, alfr, alfi, beta);
}

// The complex pair e + c +- i sqrt(-d) of the normalised block: the unitary
// transformations (cz, sz) from the right and (cq, sq) from the left that would make it
// triangular give the diagonal elements, from which alpha and beta are read. The root with
// positive imaginary part goes to position na.
void Block::complexPair(double e, double c, double d, double* alfr, double* alfi, double* beta) {
  const double a11 = a11_, a12 = a12_, a21 = a21_, a22 = a22_;
  const double b11 = b11_, b12 = b12_, b22 = b22_;
  e = e + c;
  const double ei = std::sqrt(-d);
  const double a11r = a11 - e * b11, a11i = ei * b11;
  const double a12r = a12 - e * b12, a12i = ei * b12;
  const double a22r = a22 - e * b22, a22i = ei * b22;
  double a1, a1i, a2, a2i;
  if (std::fabs(a11r) + std::fabs(a11i) + std::fabs(a12r) + std::fabs(a12i) <
      std::fabs(a21) + std::fabs(a22r) + std::fabs(a22i)) {
    a1 = a22r, a1i = a22i, a2 = -a21, a2i = 0.0;
  } else {
    a1 = a12r, a1i = a12i, a2 = -a11r, a2i = -a11i;
  }
  // (c, s) with c real from (a1 + i a1i, a2 + i a2i): c = |a1|, s = conj(a1) a2 / |a1|,
  // both divided by sqrt(c^2 + |s|^2); (1, 0) when a1 is 0.
  auto unitary = [](double a1, double a1i, double a2, double a2i, double& c, double& sr,
                    double& si) {
    c = std::sqrt(a1 * a1 + a1i * a1i);
    if (c == 0.0) {
      sr = 1.0, si = 0.0;
      return;
    }
    sr = (a1 * a2 + a1i * a2i) / c;
    si = (a1 * a2i - a1i * a2) / c;
    const double r = std::sqrt(c * c + sr * sr + si * si);
    c = c / r, sr = sr / r, si = si / r;
  };
  double cz, szr, szi, cq, sqr, sqi;
  unitary(a1, a1i, a2, a2i, cz, szr, szi);
  if (an_ < (std::fabs(e) + ei) * bn_) {
    a1 = cz * a11 + szr * a12, a1i = szi * a12;
    a2 = cz * a21 + szr * a22, a2i = szi * a22;
  } else {
    a1 = cz * b11 + szr * b12, a1i = szi * b12;
    a2 = szr * b22, a2i = szi * b22;
  }
  unitary(a1, a1i, a2, a2i, cq, sqr, sqi);
  const double ssr = sqr * szr + sqi * szi, ssi = sqr * szi - sqi * szr;
  // The two diagonal elements (tr + i ti) / (dr + i di) the transformations would give.
  auto record = [&](double tr, double ti, double dr, double di) {
    const double t = ti * dr - tr * di;
    const int32_t j = t < 0.0 ? en_ : na_;
    const double r = std::sqrt(dr * dr + di * di);
    beta[j] = bn_ * r;
    alfr[j] = an_ * (tr * dr + ti * di) / r;
    alfi[j] = an_ * t / r;
  };
  record(cq * cz * a11 + cq * szr * a12 + sqr * cz * a21 + ssr * a22,
         cq * szi * a12 - sqi * cz * a21 + ssi * a22, cq * cz * b11 + cq * szr * b12 + ssr * b22,
         cq * szi * b12 + ssi * b22);
  record(ssr * a11 - sqr * cz * a12 - cq * szr * a21 + cq * cz * a22,
         -ssi * a11 - sqi * cz * a12 + cq * szi * a21, ssr * b11 - sqr * cz * b12 + cq * cz * b22,
         -ssi * b11 - sqi * cz * b12);
}

}  // namespace

void qz_values(PartView a, PartView b, int32_t n, double* alfr, double* alfi, double* beta,
               PartView z) {
  const double epsb = n >= 2 ? b(n - 1, 0) : 0.0;
  for (int32_t en = n - 1; en >= 0; --en) {
    if (en == 0 || a(en, en - 1) == 0.0) {
      realValue(a, b, en, alfr, alfi, beta);
      continue;
    }
    Block(a, b, z, n, en - 1).values(epsb, alfr, alfi, beta);
    --en;
  }
  // For n = 2 the block's transformations reach the element epsb is kept in.
  if (n >= 2) b(n - 1, 0) = epsb;
}

}  // namespace eigen
