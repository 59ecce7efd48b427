// eigenvals(M) and eigenvecs(M): the eigenvalues of a square matrix as a column, and its
// eigenvectors as the columns of a matrix, in the order the solver finds them.
//
//   eigenvals([4, 1, 2; 1, 3, 0.5; 2, 0.5, 1])   = [2.5; 5.5; 0] to rounding: unsorted
//   eigenvals([0, 1; -1, 0])                     = [1i; -1i]
//   eigenvecs([2, 1; 1, 2])                      columns (0.707, -0.707) and (0.707, 0.707)
//   eigenvals([1, 2, 3])                         -> "must be square"
//   eigenvals("abc")                             -> "must be array", blaming no argument
//
// Each works on a copy of M with the solver its kind asks for: complex (M has an imaginary
// part, Hermitian or not), real symmetric (the host's exact symmetry test), or real general.
// A symmetric M gives real results, every other M complex ones. Both entries and both matrix
// forms are exported; the host-value forms run under the floating-point guard.
#include "eigen/eigen.h"
#include "pack/checks.h"
#include "pack/entries.h"
#include "pack/errors.h"
#include "pack/ownership.h"

namespace {

// The working copy every solver overwrites: a purely imaginary M gains a zero real part.
const char* workingCopy(UfnCallContext* ctx, aMatrix* m, aMatrix** out) {
  return m->re ? matrix_copy(ctx, m, out) : matrix_copy_add_real(ctx, m, out);
}

// "must be square", then "may not be nested", both blaming M.
Anyval* shapeError(UfnCallContext* ctx, aMatrix* m) {
  return Require(ctx, m, 1).square().notNested().error();
}

aMatrix* failed(UfnCallContext* ctx, const char* message) {
  return inPlaceOf<aMatrix>(errorValue(ctx, message, 0));
}

}  // namespace

aMatrix* eigenvals(UfnCallContext* ctx, aMatrix* m, double tol) {
  if (Anyval* error = shapeError(ctx, m)) return inPlaceOf<aMatrix>(error);
  TempMatrix copy(ctx);
  if (const char* failure = workingCopy(ctx, m, copy.out())) return failed(ctx, failure);
  // evec also builds the eigenvectors; they are not wanted here.
  TempMatrix values(ctx), unusedVectors(ctx);
  const char* failure = m->im         ? comeval(ctx, copy.get(), values.out(), tol)
                        : symmetry(m) ? sym_eigvals(ctx, copy.get(), values.out())
                                      : evec(ctx, copy.get(), values.out(), unusedVectors.out());
  if (failure) return failed(ctx, failure);
  return values.handOver();
}

aMatrix* eigenvecs(UfnCallContext* ctx, aMatrix* m) {
  if (Anyval* error = shapeError(ctx, m)) return inPlaceOf<aMatrix>(error);
  TempMatrix copy(ctx);
  if (const char* failure = workingCopy(ctx, m, copy.out())) return failed(ctx, failure);
  TempMatrix unusedValues(ctx), vectors(ctx);
  const bool symmetric = !m->im && symmetry(m);
  const char* failure = m->im       ? comevec(ctx, copy.get(), unusedValues.out(), vectors.out())
                        : symmetric ? sym_eigvecs(ctx, copy.get())
                                    : evec(ctx, copy.get(), unusedValues.out(), vectors.out());
  if (failure) return failed(ctx, failure);
  // The symmetric solver leaves its vectors in the copy itself.
  aMatrix* result = symmetric ? copy.handOver() : vectors.handOver();
  renormalize_matrix_cols(result);
  return result;
}

namespace worksheet {

Anyval* eigenvals(UfnCallContext* ctx, Anyval* m, Anyval* tol) {
  if (Anyval* error = Require(ctx, m, 0).matrix().error()) return error;
  return asValue(::eigenvals(ctx, as<aMatrix>(m), as<aComplex>(tol)->re));
}

Anyval* eigenvecs(UfnCallContext* ctx, Anyval* m) {
  if (Anyval* error = Require(ctx, m, 0).matrix().error()) return error;
  return asValue(::eigenvecs(ctx, as<aMatrix>(m)));
}

}  // namespace worksheet

Anyval* eigenvals(UfnCallContext* ctx, Anyval* m, Anyval* tol) {
  return entry<Guarded, worksheet::eigenvals>(ctx, m, tol);
}

Anyval* eigenvecs(UfnCallContext* ctx, Anyval* m) {
  return entry<Guarded, worksheet::eigenvecs>(ctx, m);
}
