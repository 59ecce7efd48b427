// The QZ algorithm for the generalised eigenproblem A x = lambda B x of two real n x n
// matrices (Moler and Stewart), in four stages that work on A and B in place:
//
//   qz_hessenberg   orthogonal Q and Z with Q A Z upper Hessenberg and Q B Z upper
//                   triangular: Householder reflections triangularise B, then plane
//                   reflections zero A below its subdiagonal, each followed by one that
//                   restores B
//   qz_iterate      QZ steps (single or double shift, implicit) until A is
//                   quasi-triangular: 1 x 1 and 2 x 2 diagonal blocks, B still triangular
//   qz_values       splits the 2 x 2 blocks with real eigenvalues and reads off, for each
//                   position j, alpha_j = alfr_j + i alfi_j and beta_j >= 0 with
//                   lambda_j = alpha_j / beta_j; a complex pair takes two positions, the
//                   one with alfi > 0 first
//   qz_vectors      the eigenvectors, by back substitution on the quasi-triangular pencil
//                   and transformation by Z
//
// Every transformation is a reflection of two or three elements in the form
//   t = x + u2 y (+ u3 z);  x += t v1;  y += t v2;  (z += t v3)
// built from a1, a2 (, a3) scaled by |a1| + |a2| (+ |a3|), with r = sqrt(sum of squares)
// carrying a1's sign, v_k = -u_k / r (v1 = -(u1 + r) / r) and u_k = v_k / v1.
//
// Z, when given (non-empty), accumulates the right-hand transformations of every stage;
// qz_hessenberg starts it as the identity. The matrices are n x n part views; n >= 1.
#pragma once

#include <cstdint>

#include "host/part_view.h"
#include "pack/interrupt.h"

namespace eigen {

// Asks `stop` once per column of each reduction. Message: "interrupted".
const char* qz_hessenberg(PartView a, PartView b, PartView z, int32_t n, const Interrupt& stop);

// The QZ iteration on the Hessenberg-triangular pencil. Elements are negligible relative
// to the largest row sums of |A| (from the subdiagonal on) and |B| (from the diagonal on):
// eps = 2^-52 times each (a zero norm counting as 1). A subdiagonal element of A at most
// epsa is set to zero and splits the pencil; a diagonal element of B at most epsb is set
// to zero and chased out of the active block. Each block of one or two eigenvalues gets at
// most 50 steps; the 11th uses the fixed shift (a1, a2, a3) = (0, 1, 1.1605) to break
// cycles. For n >= 2 epsb is left in B(n-1, 0) for the later stages.
// Messages: "too many iterations", "interrupted" (asked once per step).
const char* qz_iterate(PartView a, PartView b, PartView z, int32_t n, const Interrupt& stop);

// alfr, alfi, beta: n values each. In a 2 x 2 block the discriminant of the normalised
// block is taken as 0 when its magnitude is below sqrt(n) * 2.22e-14, so that nearly equal
// real eigenvalues do not come out as a complex pair with tiny imaginary parts.
void qz_values(PartView a, PartView b, int32_t n, double* alfr, double* alfi, double* beta,
               PartView z);

// Overwrites Z with the eigenvectors: column j for a real eigenvalue, columns j and j+1
// the real and imaginary parts of the vector of the pair starting at j (its conjugate
// belongs to j+1). Each vector is scaled so that its largest component has modulus 1.
// B is destroyed. Messages: "out of memory", "interrupted" (asked once per vector).
const char* qz_vectors(PartView a, PartView b, int32_t n, const double* alfr, const double* alfi,
                       const double* beta, PartView z, const Interrupt& stop);

}  // namespace eigen
