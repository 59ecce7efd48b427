// The two kinds of numbers the linear-algebra routines compute with, as policies one
// algorithm is written over: RealField (one part array) and ComplexField (a real and an
// imaginary part array, split as the host stores them).
//
// Each policy gives
//   Value              one number: double, or Complex
//   Column             a contiguous run of numbers: double*, or SplitColumn
//   View               a matrix seen through its leading dimension
//   magnitude(v)       |v|: fabs, or the complex modulus of the floating-point guard
//   Divisor            division by one number: a true quotient, or Smith's division
// and the deliberate differences between the real and the complex LU factorisations, all
// here: how pivot entries are numbered, which of equal pivot candidates wins, which pivot
// the near-singularity test starts at, what counts as a zero pivot, and whether a zero on
// U's diagonal stops a substitution.
//
// Complex products are formed as (ar br - ai bi, ai br + ar bi) and complex differences part
// by part, never through std::complex, so every element goes through exactly the same
// operations wherever it is computed.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "host/part_view.h"
#include "pack/fpguard.h"

namespace linalg {

// Machine epsilon, 2^-52: the spacing of doubles at 1, the base of relative tolerances.
inline constexpr double kEpsilon = 2.220446049250313e-16;

struct Complex {
  double re = 0.0, im = 0.0;
};

inline Complex operator*(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im};
}
inline Complex operator-(Complex a, Complex b) {
  return {a.re - b.re, a.im - b.im};
}
inline bool isZero(double x) {
  return x == 0.0;
}
inline bool isZero(Complex z) {
  return z.re == 0.0 && z.im == 0.0;
}

// The quotient a / b as IEEE division: how Smith's division below takes its quotients
// unless told otherwise.
struct TrueQuotient {
  static double of(double a, double b) { return a / b; }
};

// Division by one complex number by Smith's method: the divisor's smaller part is taken
// relative to its larger one, so no square of a part is ever formed.
//   |re| >= |im|:  r = im / re,  d = re + r im,  x / (re, im) = ((xr + r xi) / d, (xi - r xr) / d)
//   |re| <  |im|:  r = re / im,  d = im + r re,  x / (re, im) = ((r xr + xi) / d, (r xi - xr) / d)
// Every quotient is Quotient::of(a, b). The divisor must not be 0.
template <class Quotient>
class SmithDivisorOf {
 public:
  explicit SmithDivisorOf(Complex divisor)
      : byImaginary_(std::fabs(divisor.re) < std::fabs(divisor.im)) {
    if (byImaginary_) {
      ratio_ = Quotient::of(divisor.re, divisor.im);
      denominator_ = ratio_ * divisor.re + divisor.im;
    } else {
      ratio_ = Quotient::of(divisor.im, divisor.re);
      denominator_ = ratio_ * divisor.im + divisor.re;
    }
  }

  Complex divide(Complex x) const {
    if (byImaginary_) {
      return {Quotient::of(ratio_ * x.re + x.im, denominator_),
              Quotient::of(ratio_ * x.im - x.re, denominator_)};
    }
    return {Quotient::of(ratio_ * x.im + x.re, denominator_),
            Quotient::of(x.im - ratio_ * x.re, denominator_)};
  }

 private:
  bool byImaginary_;
  double ratio_;
  double denominator_;
};

using SmithDivisor = SmithDivisorOf<TrueQuotient>;

// A contiguous run of complex numbers: its real parts and its imaginary parts.
struct SplitColumn {
  double* re;
  double* im;
  SplitColumn operator+(ptrdiff_t offset) const { return {re + offset, im + offset}; }
};

inline double load(const double* x, ptrdiff_t i) {
  return x[i];
}
inline void store(double* x, ptrdiff_t i, double v) {
  x[i] = v;
}
inline Complex load(const Complex* x, ptrdiff_t i) {
  return x[i];
}
inline void store(Complex* x, ptrdiff_t i, Complex v) {
  x[i] = v;
}
inline Complex load(SplitColumn x, ptrdiff_t i) {
  return {x.re[i], x.im[i]};
}
inline void store(SplitColumn x, ptrdiff_t i, Complex v) {
  x.re[i] = v.re;
  x.im[i] = v.im;
}

struct RealField {
  using Value = double;
  using Column = double*;
  // Part arrays a number takes.
  static constexpr int kParts = 1;

  struct View {
    PartView re;
    static View of(const aMatrix* m) { return {realPart(m)}; }
    int32_t ld() const { return re.ld(); }
    double operator()(int32_t i, int32_t j) const { return re(i, j); }
    void set(int32_t i, int32_t j, double v) const { re(i, j) = v; }
    double* column(int32_t j) const { return re.column(j); }
    // Rows r and s exchange their entries in the columns from .. to-1.
    void swapRows(int32_t r, int32_t s, int32_t from, int32_t to) const {
      for (int32_t j = from; j < to; ++j) std::swap(re(r, j), re(s, j));
    }
  };

  struct Divisor {
    double d;
    double divide(double x) const { return x / d; }
  };

  static double magnitude(double x) { return std::fabs(x); }
  static constexpr double kOne = 1.0;

  // lud records the row exchanged at step k 0-based.
  static constexpr int32_t kPivotBase = 0;
  // Of equal pivot candidates the last (lowest) row wins.
  static constexpr bool kTiesGoToLastRow = true;
  // The near-singularity test leaves the first pivot alone.
  static constexpr int32_t kFirstTestedPivot = 1;
  // A zero or NaN pivot is zero.
  static bool isZeroPivot(double x) { return x == 0.0 || std::isnan(x); }
  // The back substitution divides by a zero on U's diagonal like any other number.
  static constexpr bool kZeroDiagonalIsSingular = false;
};

struct ComplexField {
  using Value = Complex;
  using Column = SplitColumn;
  static constexpr int kParts = 2;

  // Element reads treat an absent part array as zeros; columns need both arrays.
  struct View {
    PartView re, im;
    static View of(const aMatrix* m) { return {realPart(m), imagPart(m)}; }
    int32_t ld() const { return re.ld(); }
    Complex operator()(int32_t i, int32_t j) const {
      return {re ? re(i, j) : 0.0, im ? im(i, j) : 0.0};
    }
    // Writing needs both arrays.
    void set(int32_t i, int32_t j, Complex v) const {
      re(i, j) = v.re;
      im(i, j) = v.im;
    }
    SplitColumn column(int32_t j) const { return {re.column(j), im.column(j)}; }
    void swapRows(int32_t r, int32_t s, int32_t from, int32_t to) const {
      for (int32_t j = from; j < to; ++j) std::swap(re(r, j), re(s, j));
      for (int32_t j = from; j < to; ++j) std::swap(im(r, j), im(s, j));
    }
  };

  // Throws SE_FPEOverflow_Exception when the modulus exceeds the largest double.
  static double magnitude(Complex z) { return fpu::complexModulus(z.re, z.im); }
  using Divisor = SmithDivisor;
  static constexpr Complex kOne = {1.0, 0.0};

  // clud records the row exchanged at step k 1-based.
  static constexpr int32_t kPivotBase = 1;
  // Of equal pivot candidates the first (highest) row wins.
  static constexpr bool kTiesGoToLastRow = false;
  // The near-singularity test starts at the first pivot.
  static constexpr int32_t kFirstTestedPivot = 0;
  // A pivot is zero when both its parts are.
  static bool isZeroPivot(Complex z) { return isZero(z); }
  // A zero on U's diagonal stops the back substitution: "singular matrix".
  static constexpr bool kZeroDiagonalIsSingular = true;
};

// `count` numbers over scratch of kParts * count doubles: the scratch itself, or its first
// half as the real parts and its second half as the imaginary parts.
inline double* columnOver(RealField, double* scratch, size_t) {
  return scratch;
}
inline SplitColumn columnOver(ComplexField, double* scratch, size_t count) {
  return {scratch, scratch + count};
}

}  // namespace linalg
