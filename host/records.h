// The host's value records, the static records the pack lays out for the host, and the
// per-call context with its allocator and evaluator interfaces.
//
// These layouts are a binary contract with a closed 32-bit host: every field, width and
// order below is what the host reads and writes. On 32-bit targets the sizes are exactly
// those the host expects (checked at the end of this file); on x86-64 the same fields
// appear in the same order with 8-byte pointers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/abi.h"

struct IwsAllocator;
struct IwsEvaluator;

// Value tags: every host value starts with one.
enum : uint32_t {
  kTagError = 0,
  kTagScalar = 2,
  kTagString = 3,
  kTagFunction = 4,  // function value, first kind
  kTagMatrix = 5,
  kTagFunction2 = 8,  // function value, second kind
  kTagIdentifier = 10,
  kTagOpaque = 16,  // a host kind the pack only rejects
};

// A tagged host value; the tag says which record follows.
struct Anyval {
  uint32_t tag;
};

// A complex scalar; real numbers have a zero imaginary part.
struct aComplex {
  uint32_t tag;   // kTagScalar
  uint32_t host;  // the host's word
  double re;
  double im;
};

// A string value: NUL-terminated 8-bit text and its length without the NUL.
struct aString {
  uint32_t tag;  // kTagString
  const char* text;
  uint32_t length;
};

// A matrix value: column-major, element (i, j) at re[i + j * ld] and im[i + j * ld].
// Either part array may be absent: a null real part means all real parts are 0, a null
// imaginary part means the matrix is real.
struct aMatrix {
  uint32_t tag;    // kTagMatrix
  int32_t ld;      // leading dimension, >= rows
  uint32_t bytes;  // size of one part array in bytes
  uint32_t host;   // the host's word; 0 in headers the pack builds
  double* re;
  double* im;
  int32_t rows;
  int32_t cols;
  uint32_t refs;   // reference count; 1 in headers the pack builds
  uint32_t flags;  // kNested, kReferenced, and the host's bits

  static constexpr uint32_t kNested = 2;      // holds embedded nested arrays
  static constexpr uint32_t kReferenced = 4;  // the pack stored a further reference to it

  bool nested() const { return (flags & kNested) != 0; }

  // Header over the given arrays (either may be null), leading dimension = rows; the arrays
  // then belong to the value whatever their source. Null when the host has no memory.
  UFNUTILS_API static aMatrix* mk(IwsAllocator* allocator, int rows, int cols, double* re,
                                  double* im, uint32_t bytes);
  // An array of `count` doubles from the host, or null.
  UFNUTILS_API static double* mkDbl(IwsAllocator* allocator, uint32_t count);
};

// An error value: a message and the position of the argument at fault.
struct aError {
  uint32_t tag;       // kTagError
  uint32_t first;     // first integer of the position pair (a host word)
  uint32_t position;  // 1-based argument at fault, 0 for none
  aString* message;
  uint32_t host1;
  uint32_t host2;

  // Error with a message text; the last two arguments are unused and passed null.
  UFNUTILS_API static aError* mk(IwsAllocator* allocator, const char* message, int first,
                                 int position, Anyval* offending, const char* detail);
  // Error whose message is taken from a string value.
  UFNUTILS_API static aError* mk(IwsAllocator* allocator, aString* message, int first, int position,
                                 Anyval* offending);
};

// Static records the pack lays out in its own data for the host to read.
struct sString {
  uint32_t tag;  // kTagString
  const char* text;
  uint32_t length;
};

struct sIdentifier {
  uint32_t tag;  // kTagIdentifier
  uint32_t zero;
  sString* name;
  uint32_t two;
};

// A cons cell; lists end in a null cdr.
struct sCons {
  const void* car;  // an identifier or a value
  const sCons* cdr;
};

// One row of the pack's function table, as the host reads it.
struct sFunctionInfo;
struct sFunctionDescriptor {
  const sFunctionInfo* signature;  // the host's signature object for the argument pattern
  const sCons* dependencies;       // system variables appended as arguments, or null
  uint32_t kind;                   // the host's kind code (low byte 8, 12 or 0)
  const sString* name;
  const void* reserved;  // always null
  const void* entry;     // Anyval* (UfnCallContext*, Anyval*, ...), C convention; null if absent
  const sString* unitRule;
};

// The host allocator: a COM-style object whose first word points to its method table.
// Slot numbers count from 0; the host owns every slot not named here.
struct IwsAllocatorTable {
  void (*hostSlots0to7[8])();
  // 8: *out receives a fresh record big enough for an aComplex.
  void(WS_STDCALL* newScalar)(IwsAllocator* self, Anyval** out);
  void (*hostSlots9to59[51])();
  // 60: an array of `count` doubles for a result matrix.
  HRESULT(WS_STDCALL* allocDoubles)(IwsAllocator* self, double** out, uint32_t count);
  // 61: a block for a record that holds pointers to other values.
  HRESULT(WS_STDCALL* allocRecord)(IwsAllocator* self, void** out, uint32_t bytes);
  // 62: a block of plain data (a header with its numbers, a string with its text).
  HRESULT(WS_STDCALL* allocData)(IwsAllocator* self, void** out, uint32_t bytes);
  // 63: gives back an unused array from slot 60.
  void(WS_STDCALL* freeDoubles)(IwsAllocator* self, double* array);
};

struct IwsAllocator {
  const IwsAllocatorTable* table;
};

// The host evaluator: applies worksheet functions, polls for interrupts, releases values.
struct IwsEvaluatorTable {
  void (*hostSlots0to2[3])();
  // 3: applies a function value to the listed arguments; *out receives the result.
  void(WS_STDCALL* apply)(IwsEvaluator* self, Anyval* function, const sCons* args, Anyval** out);
  // 4 and 5: called before slot 3 with the address of the (still null) result word.
  void(WS_STDCALL* beginApply)(IwsEvaluator* self, Anyval** out);
  void(WS_STDCALL* prepareApply)(IwsEvaluator* self, Anyval** out);
  void (*hostSlot6)();
  // 7: called right after slot 3.
  void(WS_STDCALL* endApply)(IwsEvaluator* self);
  void (*hostSlots8to9[2])();
  // 10: 1 when the user asked to stop the calculation; always called with 1.
  int32_t(WS_STDCALL* pollInterrupt)(IwsEvaluator* self, int32_t one);
  // 11: releases a temporary value obtained from the host.
  void(WS_STDCALL* release)(IwsEvaluator* self, Anyval** value);
};

struct IwsEvaluator {
  const IwsEvaluatorTable* table;
};

// What the host passes first to every function.
struct UfnCallContext {
  IwsAllocator* allocator;
  IwsEvaluator* evaluator;
};

// Views of a tagged value as its record. Callers test the tag first.
template <class Record>
Record* as(Anyval* value) {
  return reinterpret_cast<Record*>(value);
}
template <class Record>
const Record* as(const Anyval* value) {
  return reinterpret_cast<const Record*>(value);
}
template <class Record>
Anyval* asValue(Record* record) {
  return reinterpret_cast<Anyval*>(record);
}
template <class Record>
const Anyval* asValue(const Record* record) {
  return reinterpret_cast<const Anyval*>(record);
}

inline bool isMatrix(const Anyval* v) {
  return v->tag == kTagMatrix;
}
inline bool isScalar(const Anyval* v) {
  return v->tag == kTagScalar;
}
inline bool isString(const Anyval* v) {
  return v->tag == kTagString;
}

static_assert(offsetof(IwsAllocatorTable, newScalar) == 8 * sizeof(void*));
static_assert(offsetof(IwsAllocatorTable, allocDoubles) == 60 * sizeof(void*));
static_assert(offsetof(IwsAllocatorTable, freeDoubles) == 63 * sizeof(void*));
static_assert(offsetof(IwsEvaluatorTable, apply) == 3 * sizeof(void*));
static_assert(offsetof(IwsEvaluatorTable, endApply) == 7 * sizeof(void*));
static_assert(offsetof(IwsEvaluatorTable, pollInterrupt) == 10 * sizeof(void*));
static_assert(offsetof(IwsEvaluatorTable, release) == 11 * sizeof(void*));

#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit host's exact layouts.
static_assert(sizeof(aComplex) == 24 && offsetof(aComplex, re) == 8 &&
              offsetof(aComplex, im) == 16);
static_assert(sizeof(aString) == 12 && offsetof(aString, length) == 8);
static_assert(sizeof(sString) == 12 && offsetof(sString, length) == 8);
static_assert(sizeof(aMatrix) == 40);
static_assert(offsetof(aMatrix, ld) == 4 && offsetof(aMatrix, bytes) == 8 &&
              offsetof(aMatrix, host) == 12 && offsetof(aMatrix, re) == 16 &&
              offsetof(aMatrix, im) == 20 && offsetof(aMatrix, rows) == 24 &&
              offsetof(aMatrix, cols) == 28 && offsetof(aMatrix, refs) == 32 &&
              offsetof(aMatrix, flags) == 36);
static_assert(sizeof(aError) == 24 && offsetof(aError, first) == 4 &&
              offsetof(aError, position) == 8 && offsetof(aError, message) == 12);
static_assert(sizeof(sIdentifier) == 16 && offsetof(sIdentifier, name) == 8);
static_assert(sizeof(sCons) == 8 && offsetof(sCons, cdr) == 4);
static_assert(sizeof(sFunctionDescriptor) == 28 && offsetof(sFunctionDescriptor, entry) == 20);
static_assert(sizeof(UfnCallContext) == 8 && offsetof(UfnCallContext, evaluator) == 4);
#endif
