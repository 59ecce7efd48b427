// The host's utility library, imported by the pack by name: value construction, matrix
// copies and packing, error values, signature objects and the host's own name records,
// and pack registration. aMatrix::mk, aMatrix::mkDbl and aError::mk are declared with
// their records in host/records.h.
//
// A negative HRESULT from the host allocator surfaces as HostAllocFailure; a null block
// with a non-negative result makes the operation return null (out of memory).
#pragma once

#include <new>

#include "host/records.h"

// Thrown when the host allocator reports failure; it reaches the host as std::bad_alloc.
class HostAllocFailure : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "gc: memory allocation failed"; }
};

// The host's signature object for an argument pattern. The pack only stores pointers to
// it in its table; the host reads the number of arguments it takes.
struct sFunctionInfo {
  int32_t arguments;  // including appended system variables; kVariadic for counted calls
  const char* pattern;
  static constexpr int32_t kVariadic = -1;
};

// The pack's 128-bit identifier.
struct PackId {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// A host vector: a matrix with one column.
using aVector = aMatrix;

// Error from a message caught inside a call; `first` and `position` as for aError::mk.
UFNUTILS_API Anyval* mkError(UfnCallContext* ctx, const char* message, int first, int position);
// Error for an argument of the wrong kind.
UFNUTILS_API aError* patch_error(UfnCallContext* ctx, const char* message, Anyval* offending,
                                 int position);

// Writable copies with leading dimension = rows; embedded slots are copied as they are.
// The copy is a temporary: release it through the evaluator. Null on success.
UFNUTILS_API const char* matrix_copy(UfnCallContext* ctx, aMatrix* source, aMatrix** out);
// As matrix_copy, and the copy always has a real-part array (zeros where the source has none).
UFNUTILS_API const char* matrix_copy_add_real(UfnCallContext* ctx, aMatrix* source, aMatrix** out);
// As matrix_copy, and the copy always has an imaginary-part array.
UFNUTILS_API const char* matrix_copy_add_imag(UfnCallContext* ctx, aMatrix* source, aMatrix** out);

// Several matrices joined into one value. pack_two_r and pack_three_c join side by side
// (a | b | c), pack_two_rr top to bottom (a over b). The inputs are left untouched.
UFNUTILS_API bool pack_two_r(UfnCallContext* ctx, aMatrix* a, aMatrix* b, Anyval** out);
UFNUTILS_API bool pack_two_rr(UfnCallContext* ctx, aMatrix* a, aMatrix* b, Anyval** out);
UFNUTILS_API bool pack_three_c(UfnCallContext* ctx, aMatrix* a, aMatrix* b, aMatrix* c,
                               Anyval** out);

// Copies column `column` of `m` into the vector `v` (both parts where v has them).
UFNUTILS_API const char* MtoVcol(aMatrix* m, int column, aVector* v);
// Sets the entries of column `column` from row `fromRow` down to exact zeros (both parts).
UFNUTILS_API void zero_col(int column, int fromRow, aMatrix* m);
// Scales every non-zero column to unit Euclidean length (complex columns by their complex length).
UFNUTILS_API void renormalize_matrix_cols(aMatrix* m);
// True when a(i, j) equals a(j, i) exactly for every pair, both parts.
UFNUTILS_API bool symmetry(aMatrix* m);
// 1 when the scalar's real part is not a whole number, else 0.
UFNUTILS_API int nonint(UfnCallContext* ctx, aComplex* value);

// Pack registration, keyed by the 128-bit identifier.
UFNUTILS_API HRESULT RegisterUfnFunctionPack(void* module, const PackId* id);
UFNUTILS_API HRESULT UnregisterUfnFunctionPack(const PackId* id);
// The module handle registered under `id`, or null when it is not registered.
UFNUTILS_API void* RegisteredUfnFunctionPack(const PackId* id);

// Data exports: variables holding pointers to the host's records.
extern "C" {
UFNUTILS_API extern aError* sError_OutOfMemory;
UFNUTILS_API extern sFunctionInfo* Any_to_Any;
UFNUTILS_API extern sFunctionInfo* Any_to_Num;
UFNUTILS_API extern sFunctionInfo* Any_to_Mat;
UFNUTILS_API extern sFunctionInfo* Any_Any_to_Any;
UFNUTILS_API extern sFunctionInfo* Any_Any_to_Num;
UFNUTILS_API extern sFunctionInfo* Any_Any_to_Mat;
UFNUTILS_API extern sFunctionInfo* Any_Any_Any_to_Mat;
UFNUTILS_API extern sFunctionInfo* Any_Any_Any_Any_to_Any;
UFNUTILS_API extern sFunctionInfo* Any_Any_Any_Any_Any_to_Any;
UFNUTILS_API extern sFunctionInfo* Any_Any_Any_Any_Any_Any_to_Any;
UFNUTILS_API extern sFunctionInfo* Variable_to_Num;
UFNUTILS_API extern sString* StripUnit_sString;
UFNUTILS_API extern sString* Transpose_sString;
UFNUTILS_API extern sString* diag_sString;
UFNUTILS_API extern sIdentifier* ORIGIN_sUnIdent;
}
