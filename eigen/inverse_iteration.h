// One eigenvector of a square complex matrix by inverse iteration: the solutions of
// (A - z I) x = p grow along the eigenvector of A whose eigenvalue is nearest z, so a few
// solves from a start vector turn it into that eigenvector.
//
// The routines work on an n x n complex matrix held as two contiguous column-major part
// arrays (leading dimension n), and return null on success or a message:
//   "singularity"      a row of the shifted matrix is entirely zero, or there is nothing
//                      to iterate on (n < 1, a zero start vector)
//   "not converging"   no start vector grows, or a solve meets a zero pivot
//   "out of memory"    no scratch
//   "interrupted"      the user asked to stop (asked once per elimination step)
#pragma once

#include <cstdint>

#include "linalg/field.h"
#include "pack/interrupt.h"

namespace eigen {

// a / b, except 0 when a is zero or not a number, and 0 when a or b is a host element
// reference (a slot whose upper 32 bits are all ones). A zero quotient stays +0.
double safe_divide(double a, double b);

struct SafeQuotient {
  static double of(double a, double b) { return safe_divide(a, b); }
};

// (x) / (divisor) by Smith's method, every quotient taken with safe_divide.
inline linalg::Complex complex_divide(linalg::Complex x, linalg::Complex divisor) {
  return linalg::SmithDivisorOf<SafeQuotient>(divisor).divide(x);
}

// The next start-vector element from the 32-bit linear congruential generator
// state = 214013 state + 2531011 (mod 2^32): two steps, each giving the 15 bits
// (state >> 16) & 0x7FFF, a and then b, make (2^15 a + b) / 2^30, in [0, 1).
double uniform_random(uint32_t& state);

// Factors the n x n matrix `a` in place into L U = P a: unit lower triangular L below the
// diagonal, U on and above it. Rows are scaled implicitly: the pivot of column k is the row
// whose |a(i, k)| (modulus sqrt(re^2 + im^2)) times 1 / (largest modulus in row i) is
// largest, the last such row on ties. A pivot that is exactly zero is replaced by 1e-20, so
// only a zero row stops the factorisation. pivots[k] is the row exchanged with row k at
// step k (0-based). L's multipliers are the column times the pivot's reciprocal.
// Messages: "singularity" (a zero row), "out of memory", "interrupted".
const char* complex_lu_decompose(linalg::SplitColumn a, int32_t n, int32_t* pivots,
                                 const Interrupt& stop);

// Solves L U x = P b in place with complex_lu_decompose's factors; leading zeros of P b are
// skipped. False, with b partly solved, when U has a zero on its diagonal.
bool complex_lu_solve(linalg::SplitColumn lu, int32_t n, const int32_t* pivots,
                      linalg::SplitColumn b);

// The eigenvector of `a` for the eigenvalue nearest z, into x (n values), of Euclidean
// length 1. `a` is overwritten: the iteration factors a - z I + 1e-12 I, the constant
// keeping the shifted matrix regular when z is an exact eigenvalue.
//
// Start vectors come from uniform_random, restarted at 1 on every call, scaled to length
// 1; one is accepted when a solve makes it grow to a length of at least 100 (at most five
// tries), and it is scaled to length 1 again. Ten solves follow, each result scaled to
// length 1; they stop early only when a solution differs from the vector it came from by
// at most 1e-30 (sum of squared moduli).
const char* inverse_iteration(linalg::SplitColumn a, int32_t n, linalg::Complex z,
                              linalg::SplitColumn x, const Interrupt& stop);

}  // namespace eigen
