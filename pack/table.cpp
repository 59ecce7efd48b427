// The function table the host reads, the records its rows point at, and the library's
// entry points for loading and registration.
//
//   theUfn[0..40]   one row per worksheet function: signature, appended system variables,
//                   kind code, name, entry, unit rule
//   numFuncs        41
//   string_<name>   the name records; string_TOL, identifier_TOL
//   TOLLIST, ORIGINLIST, BOTHLIST
//                   the system variables a row appends: (TOL), (ORIGIN), (TOL ORIGIN)
//
// Each row's entry is its worksheet function run under a policy (pack/guard.h): Plain,
// Guarded, or the lookup functions' own handlers. The rows are the one place that says which.
//
// The records are completed when the library loads, after ufnutils (a load-time import)
// has set up the host's signature objects and name records the rows point at.
#include <cstring>

#include "host/ufnutils.h"
#include "lookup/selector.h"
#include "pack/entries.h"
#include "pack/exports.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

// clang-format off
#define FOR_EACH_FUNCTION_NAME(X)                                                          \
  X(rows) X(cols) X(identity) X(last) X(length) X(max) X(min) X(reverse) X(submatrix)     \
  X(tr) X(augment) X(stack) X(matrix) X(cond1) X(cond2) X(conde) X(condi) X(cholesky)      \
  X(eigenvals) X(eigenvecs) X(eigenvec) X(genvals) X(genvecs) X(geninv) X(lsolve) X(lu)    \
  X(norm1) X(norm2) X(norme) X(normi) X(qr) X(rank) X(rref) X(svd) X(svds) X(lookup)       \
  X(hlookup) X(vlookup) X(match)
// clang-format on

#define DEFINE_NAME_RECORD(name) MATPACK_API sString string_##name{kTagString, #name, 0};
#define NAME_RECORD_ADDRESS(name) &string_##name,

constexpr int32_t kFunctionCount = 41;

extern "C" {
FOR_EACH_FUNCTION_NAME(DEFINE_NAME_RECORD)
MATPACK_API sString string_TOL{kTagString, "TOL", 0};
MATPACK_API sIdentifier identifier_TOL{kTagIdentifier, 0, &string_TOL, 2};
MATPACK_API sCons TOLLIST{&identifier_TOL, nullptr};
MATPACK_API sCons ORIGINLIST{nullptr, nullptr};
MATPACK_API sCons BOTHLIST{&identifier_TOL, &ORIGINLIST};
const int32_t numFuncs = kFunctionCount;
MATPACK_API sFunctionDescriptor theUfn[kFunctionCount];
}

namespace {

sString* const nameRecords[] = {FOR_EACH_FUNCTION_NAME(NAME_RECORD_ADDRESS)};

// Unit rules named by the host's rule language; their length counts the NUL.
sString ruleEqDims{kTagString, "-EqDims", 0};
sString ruleEqDimsDimless{kTagString, "-EqDimsDimless", 0};
sString ruleVDimless{kTagString, "-VDimless", 0};
sString ruleDimsLikeDiv{kTagString, "-DimsLikeDiv", 0};
sString* const ruleNameRecords[] = {&ruleEqDims, &ruleEqDimsDimless, &ruleVDimless,
                                    &ruleDimsLikeDiv};

// Unit-rule expressions, parsed by the host exactly as written (blanks included); their
// length leaves out the NUL. Rows with the same text share one record.
sString ruleEachEqDims, ruleSubmatrix, ruleMatrix, ruleCholesky, ruleGenvecs, ruleGeninv,
    ruleLsolve, ruleQr, ruleLookup, ruleLineLookup;
struct RuleExpression {
  sString* record;
  const char* text;
};
const RuleExpression ruleExpressions[] = {
    {&ruleEachEqDims, " (%lambda (a) (-EqDims a)) "},
    {&ruleSubmatrix, " (%lambda(a b c d e) ( %sequence ( (-VDimless b c d e) ( -EqDims a ) ) ) )"},
    {&ruleMatrix, " (%lambda(a b function ) ( %sequence ( (-VDimless a b ) ( function a b) ) ) )"},
    {&ruleCholesky, " (%lambda (a)( -DimsLikeRoot a 2 ) ) "},
    {&ruleGenvecs, " (%lambda(a b)( -EqDimsDimless a ) ) "},
    {&ruleGeninv, " (%lambda (a)( -DimsLikePower a -1 ) ) "},
    {&ruleLsolve, " (%lambda(a b)( -DimsLikeDiv b a ) ) "},
    {&ruleQr, " (-lambda (a) (%DimsLikeRoot a 2) ) "},
    {&ruleLookup, "(%lambda(k s t)(%sequence ((-EqDims k s)(-EqDims t))))"},
    {&ruleLineLookup, "(%lambda(k s r)(%sequence ((-VDimless r)(-EqDims k s))))"},
};

// The address of an entry of any of the table's argument patterns.
struct EntryRef {
  const void* address = nullptr;
  EntryRef(std::nullptr_t) {}
  EntryRef(Anyval* (*f)(UfnCallContext*, Anyval*)) : address(reinterpret_cast<const void*>(f)) {}
  EntryRef(Anyval* (*f)(UfnCallContext*, Anyval*, Anyval*))
      : address(reinterpret_cast<const void*>(f)) {}
  EntryRef(Anyval* (*f)(UfnCallContext*, Anyval*, Anyval*, Anyval*))
      : address(reinterpret_cast<const void*>(f)) {}
  EntryRef(Anyval* (*f)(UfnCallContext*, Anyval*, Anyval*, Anyval*, Anyval*))
      : address(reinterpret_cast<const void*>(f)) {}
  EntryRef(Anyval* (*f)(UfnCallContext*, Anyval*, Anyval*, Anyval*, Anyval*, Anyval*))
      : address(reinterpret_cast<const void*>(f)) {}
  EntryRef(Anyval* (*f)(UfnCallContext*, Anyval*, Anyval*, Anyval*, Anyval*, Anyval*, Anyval*))
      : address(reinterpret_cast<const void*>(f)) {}
  EntryRef(Anyval* (*f)(UfnCallContext*, int, ...)) : address(reinterpret_cast<const void*>(f)) {}
};

struct Row {
  const sFunctionInfo* signature;
  const sCons* dependencies;
  uint32_t kind;
  const sString* name;
  EntryRef entry;
  const sString* unitRule;
};

using Lookup = Ufn::LookupHandlers;

// Reads the host's records, so it runs at load time, not at compile time.
void fillTable() {
  const Row source[kFunctionCount] = {
      {Any_to_Any, nullptr, 8, &string_rows, entry<Guarded, worksheet::rows>, StripUnit_sString},
      {Any_to_Any, nullptr, 8, &string_cols, entry<Guarded, worksheet::cols>, StripUnit_sString},
      {Any_to_Any, nullptr, 8, &string_identity, entry<Plain, worksheet::identity>, &ruleVDimless},
      {Any_Any_to_Num, &ORIGINLIST, 12, &string_last, entry<Plain, worksheet::last>,
       StripUnit_sString},
      {Any_to_Num, nullptr, 12, &string_length, entry<Plain, worksheet::length>, StripUnit_sString},
      {Variable_to_Num, nullptr, 12, &string_max, entry<Guarded, worksheet::max>, &ruleEqDims},
      {Variable_to_Num, nullptr, 12, &string_min, entry<Plain, worksheet::min>, &ruleEqDims},
      {Any_to_Any, nullptr, 12, &string_reverse, entry<Guarded, worksheet::reverse>,
       &ruleEachEqDims},
      {Any_Any_Any_Any_Any_Any_to_Any, &ORIGINLIST, 12, &string_submatrix,
       entry<Guarded, worksheet::submatrix>, &ruleSubmatrix},
      {Any_to_Any, nullptr, 12, Transpose_sString, entry<Plain, worksheet::transpose>, &ruleEqDims},
      {Any_to_Any, nullptr, 12, &string_tr, entry<Guarded, worksheet::tr>, &ruleEqDims},
      {Variable_to_Num, nullptr, 12, &string_augment, entry<Guarded, worksheet::augment>,
       &ruleEqDims},
      {Variable_to_Num, nullptr, 12, &string_stack, entry<Guarded, worksheet::stack>, &ruleEqDims},
      {Any_Any_Any_to_Mat, nullptr, 0, &string_matrix, entry<Plain, worksheet::matrix>,
       &ruleMatrix},
      {Any_to_Any, nullptr, 12, &string_cond1, entry<Plain, worksheet::cond1>, &ruleEqDimsDimless},
      {Any_to_Any, nullptr, 12, &string_cond2, entry<Guarded, worksheet::cond2>,
       &ruleEqDimsDimless},
      {Any_to_Any, nullptr, 12, &string_conde, entry<Guarded, worksheet::conde>,
       &ruleEqDimsDimless},
      {Any_to_Any, nullptr, 12, &string_condi, entry<Guarded, worksheet::condi>,
       &ruleEqDimsDimless},
      {Any_to_Mat, nullptr, 12, &string_cholesky, entry<Plain, worksheet::cholesky>, &ruleCholesky},
      {Any_to_Any, nullptr, 12, diag_sString, entry<Guarded, worksheet::diag>, &ruleVDimless},
      {Any_Any_to_Any, &TOLLIST, 12, &string_eigenvals, entry<Guarded, worksheet::eigenvals>,
       &ruleEachEqDims},
      {Any_to_Any, nullptr, 12, &string_eigenvecs, entry<Guarded, worksheet::eigenvecs>,
       &ruleEqDimsDimless},
      {Any_Any_to_Mat, nullptr, 12, &string_eigenvec, entry<Plain, worksheet::eigenvec>,
       &ruleEqDimsDimless},
      {Any_Any_to_Any, nullptr, 12, &string_genvals, entry<Guarded, worksheet::genvals>,
       &ruleDimsLikeDiv},
      {Any_Any_to_Any, nullptr, 12, &string_genvecs, entry<Guarded, worksheet::genvecs>,
       &ruleGenvecs},
      {Any_Any_to_Mat, &TOLLIST, 12, &string_geninv, entry<Plain, worksheet::geninv>, &ruleGeninv},
      {Any_Any_to_Any, nullptr, 12, &string_lsolve, entry<Guarded, worksheet::lsolve>, &ruleLsolve},
      {Any_to_Mat, nullptr, 12, &string_lu, entry<Plain, worksheet::lu>, &ruleVDimless},
      {Any_to_Num, nullptr, 12, &string_norm1, entry<Plain, worksheet::norm1>, &ruleEqDims},
      {Any_to_Num, nullptr, 12, &string_norm2, entry<Guard<kFloatingPoint>, worksheet::norm2>,
       &ruleEqDims},
      {Any_to_Any, nullptr, 12, &string_norme, entry<Guarded, worksheet::norme>, &ruleEqDims},
      {Any_to_Any, nullptr, 12, &string_normi, entry<Guarded, worksheet::normi>, &ruleEqDims},
      {Any_to_Any, nullptr, 12, &string_qr, entry<Guard<kFloatingPoint>, worksheet::qr>, &ruleQr},
      {Any_to_Any, nullptr, 12, &string_rank, entry<Plain, worksheet::rank>, &ruleEqDimsDimless},
      {Any_to_Mat, nullptr, 12, &string_rref, entry<Plain, worksheet::rref>, &ruleVDimless},
      {Any_to_Any, nullptr, 12, &string_svd, entry<Guarded, worksheet::svd>, &ruleVDimless},
      {Any_to_Any, nullptr, 12, &string_svds, entry<Plain, worksheet::svds>, &ruleVDimless},
      {Any_Any_Any_Any_to_Any, &TOLLIST, 8, &string_lookup, entry<Lookup, worksheet::lookup>,
       &ruleLookup},
      {Any_Any_Any_Any_Any_to_Any, &BOTHLIST, 8, &string_hlookup, entry<Lookup, worksheet::hlookup>,
       &ruleLineLookup},
      {Any_Any_Any_Any_Any_to_Any, &BOTHLIST, 8, &string_vlookup, entry<Lookup, worksheet::vlookup>,
       &ruleLineLookup},
      {Any_Any_Any_Any_to_Any, &BOTHLIST, 8, &string_match, entry<Lookup, worksheet::match>,
       &ruleEqDimsDimless},
  };
  for (int32_t i = 0; i < kFunctionCount; ++i) {
    const Row& row = source[i];
    theUfn[i] = sFunctionDescriptor{row.signature, row.dependencies,  row.kind,    row.name,
                                    nullptr,       row.entry.address, row.unitRule};
  }
}

void completeRecords() {
  for (sString* name : nameRecords)
    name->length = static_cast<uint32_t>(std::strlen(name->text) + 1);
  for (sString* rule : ruleNameRecords)
    rule->length = static_cast<uint32_t>(std::strlen(rule->text) + 1);
  for (const RuleExpression& rule : ruleExpressions) {
    *rule.record = sString{kTagString, rule.text, static_cast<uint32_t>(std::strlen(rule.text))};
  }
  string_TOL.length = 4;
  ORIGINLIST.car = ORIGIN_sUnIdent;
  fillTable();
}

const struct LoadTimeInit {
  LoadTimeInit() { completeRecords(); }
} loadTimeInit;

// The library's own module handle (its load address), kept when the library loads.
void* moduleHandle = nullptr;

}  // namespace

extern "C" {

MATPACK_API int WS_STDCALL DllMain(void* module, unsigned long reason, void* /*reserved*/) {
  if (reason == 1) moduleHandle = module;  // process attach
  return 1;
}

MATPACK_API HRESULT WS_STDCALL DllRegisterServer() {
  return RegisterUfnFunctionPack(moduleHandle, &kMatpackId);
}

MATPACK_API HRESULT WS_STDCALL DllUnregisterServer() {
  return UnregisterUfnFunctionPack(&kMatpackId);
}

}  // extern "C"

#if !defined(_WIN32)
// Outside Windows nobody calls DllMain; attach the way the Windows loader would.
__attribute__((constructor)) static void attachModule() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&DllMain), &info) != 0) DllMain(info.dli_fbase, 1, nullptr);
}
#endif
