// abi_client: a stand-alone 32-bit worksheet host for libmatpack.so.
//
// It knows nothing of the pack's sources: every record below is declared here from its binary
// layout (little-endian, 4-byte pointers). The client loads the pack, checks the descriptor table
// and the exported static records, registers and unregisters the pack, and calls the shape
// functions with values it builds itself, through its own allocator and evaluator objects. Every
// block it hands out is tracked, so blocks left behind after the results are released show up.
//
// Usage: abi_client /path/to/libmatpack.so
// Prints one line per failed check and a summary; exit status 0 when every check passed.

#include <dlfcn.h>

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

static_assert(sizeof(void*) == 4, "abi_client models the 32-bit host: build it with -m32");

#define STDCALL __attribute__((stdcall))

namespace {

// ---------------------------------------------------------------------------------------------
// Reporting

int g_checks = 0;
int g_failures = 0;

void vreport(const char* fmt, std::va_list ap) {
  ++g_failures;
  std::fputs("FAIL: ", stdout);
  std::vfprintf(stdout, fmt, ap);
  std::fputc('\n', stdout);
}

__attribute__((format(printf, 1, 2))) void fail(const char* fmt, ...) {
  ++g_checks;
  std::va_list ap;
  va_start(ap, fmt);
  vreport(fmt, ap);
  va_end(ap);
}

// Counts one check and reports it when `ok` is false; returns `ok`.
__attribute__((format(printf, 2, 3))) bool expect(bool ok, const char* fmt, ...) {
  ++g_checks;
  if (!ok) {
    std::va_list ap;
    va_start(ap, fmt);
    vreport(fmt, ap);
    va_end(ap);
  }
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Host value records and the pack's static records

enum Tag : uint32_t {
  kTagError = 0,
  kTagComplex = 2,
  kTagString = 3,
  kTagFunction = 4,
  kTagMatrix = 5,
  kTagIdentifier = 10,
};

struct Anyval {
  uint32_t tag;
};

struct SString {  // also the run-time string value
  uint32_t tag;
  const char* text;
  uint32_t length;
};

struct SIdentifier {
  uint32_t tag;
  uint32_t zero;
  const SString* name;
  uint32_t two;
};

struct SCons {
  const void* car;
  const SCons* cdr;
};

struct Complex {
  uint32_t tag;
  uint32_t hostWord;
  double re;
  double im;
};

struct Matrix {
  uint32_t tag;
  int32_t ld;
  uint32_t bytes;
  uint32_t hostWord;
  double* re;
  double* im;
  int32_t rows;
  int32_t cols;
  uint32_t refs;
  uint32_t flags;
};
constexpr uint32_t kNestedFlag = 2;

struct Error {
  uint32_t tag;
  int32_t first;     // first integer of the position pair
  int32_t position;  // 1-based argument at fault, 0 for none
  const SString* message;
  uint32_t hostWord16;
  uint32_t hostWord20;
};

struct Descriptor {
  const void* signature;
  const SCons* deps;
  uint32_t kind;
  const SString* name;
  const void* reserved;
  void* entry;
  const SString* rule;
};

static_assert(sizeof(SString) == 12 && sizeof(SIdentifier) == 16 && sizeof(SCons) == 8);
static_assert(sizeof(Complex) == 24 && offsetof(Complex, re) == 8 && offsetof(Complex, im) == 16);
static_assert(sizeof(Matrix) == 40 && offsetof(Matrix, re) == 16 && offsetof(Matrix, rows) == 24 &&
              offsetof(Matrix, flags) == 36);
static_assert(sizeof(Error) == 24 && offsetof(Error, position) == 8 &&
              offsetof(Error, message) == 12);
static_assert(sizeof(Descriptor) == 28 && offsetof(Descriptor, entry) == 20);

// ---------------------------------------------------------------------------------------------
// Block tracking: every block this host hands out, and what it was handed out for

enum class Origin { Record8, Array60, Refs61, Plain62, Argument };

const char* originName(Origin o) {
  static const char* const names[] = {"slot 8", "slot 60", "slot 61", "slot 62", "an argument"};
  return names[static_cast<int>(o)];
}

std::map<const void*, Origin> g_blocks;

// Hands out a block filled with a non-zero pattern, so that fields the pack forgets to write show.
void* handOut(std::size_t bytes, Origin origin) {
  void* p = std::malloc(bytes ? bytes : 1);
  if (!p) {
    std::fputs("abi_client: out of memory\n", stdout);
    std::exit(1);
  }
  std::memset(p, 0xA5, bytes);
  g_blocks[p] = origin;
  return p;
}

bool isBlock(const void* p, Origin origin) {
  auto it = g_blocks.find(p);
  return it != g_blocks.end() && it->second == origin;
}

// Frees a block this host handed out; anything else is left alone.
void takeBack(const void* p) {
  auto it = g_blocks.find(p);
  if (it == g_blocks.end()) return;
  g_blocks.erase(it);
  std::free(const_cast<void*>(p));
}

// ---------------------------------------------------------------------------------------------
// The host's allocator and evaluator objects

using Slot = void (*)();
constexpr int kAllocatorSlots = 72;  // the last documented slot is 63; the spare ones trap strays
constexpr int kEvaluatorSlots = 16;  // the last documented slot is 11

struct Allocator {
  const Slot* methods;
};
struct Evaluator {
  const Slot* methods;
};
struct CallContext {
  Allocator* allocator;
  Evaluator* evaluator;
};
static_assert(sizeof(CallContext) == 8);

template <bool IsAllocator, int N>
STDCALL int32_t unexpectedSlot(void*) {
  std::printf("unexpected %s slot %d\n", IsAllocator ? "allocator" : "evaluator", N);
  std::fflush(stdout);
  std::abort();
}

template <bool IsAllocator, int... N>
std::array<Slot, sizeof...(N)> trapTable(std::integer_sequence<int, N...>) {
  return {reinterpret_cast<Slot>(&unexpectedSlot<IsAllocator, N>)...};
}

STDCALL int32_t allocRecord(Allocator*, Anyval** out) {
  *out = static_cast<Anyval*>(handOut(sizeof(Complex), Origin::Record8));
  return 0;
}
STDCALL int32_t allocDoubles(Allocator*, double** out, uint32_t count) {
  *out = static_cast<double*>(handOut(std::size_t{count} * 8, Origin::Array60));
  return 0;
}
STDCALL int32_t allocRefBlock(Allocator*, void** out, uint32_t bytes) {
  *out = handOut(bytes, Origin::Refs61);
  return 0;
}
STDCALL int32_t allocPlainBlock(Allocator*, void** out, uint32_t bytes) {
  *out = handOut(bytes, Origin::Plain62);
  return 0;
}
STDCALL int32_t freeDoubles(Allocator*, double* array) {
  if (expect(isBlock(array, Origin::Array60),
             "allocator slot 63: expected an array from slot 60, found %p", (void*)array))
    takeBack(array);
  return 0;
}

// A worksheet function value of this host: tag 4, then the function that computes it.
struct HostFunction {
  uint32_t tag;
  Anyval* (*apply)(const SCons* args);
};

STDCALL int32_t evalApply(Evaluator*, const Anyval* fn, const SCons* args, Anyval** out) {
  if (fn && fn->tag == kTagFunction) {
    *out = reinterpret_cast<const HostFunction*>(fn)->apply(args);
  } else {
    fail("evaluator slot 3: expected a function value of this host, found %p", (const void*)fn);
    *out = nullptr;
  }
  return 0;
}
STDCALL int32_t evalBefore(Evaluator*, Anyval** result) {
  expect(*result == nullptr, "evaluator slot 4: expected a null result word, found %p",
         (void*)*result);
  return 0;
}
STDCALL int32_t evalPrepare(Evaluator*, Anyval**) {
  return 0;
}
STDCALL int32_t evalAfter(Evaluator*) {
  return 0;
}
// Interrupt poll: the user of this host never asks to stop.
STDCALL int32_t evalPoll(Evaluator*, int32_t) {
  return 0;
}

// Releases a temporary value: its arrays and its header, as far as this host handed them out.
STDCALL int32_t evalRelease(Evaluator*, Anyval** value) {
  const Anyval* v = *value;
  if (!v) return 0;
  if (g_blocks.count(v) && v->tag == kTagMatrix) {
    const auto* m = reinterpret_cast<const Matrix*>(v);
    takeBack(m->re);
    takeBack(m->im);
  }
  takeBack(v);
  return 0;
}

std::array<Slot, kAllocatorSlots> g_allocatorMethods;
std::array<Slot, kEvaluatorSlots> g_evaluatorMethods;
Allocator g_allocator{g_allocatorMethods.data()};
Evaluator g_evaluator{g_evaluatorMethods.data()};
CallContext g_context{&g_allocator, &g_evaluator};

void buildHostObjects() {
  g_allocatorMethods = trapTable<true>(std::make_integer_sequence<int, kAllocatorSlots>{});
  g_allocatorMethods[8] = reinterpret_cast<Slot>(&allocRecord);
  g_allocatorMethods[60] = reinterpret_cast<Slot>(&allocDoubles);
  g_allocatorMethods[61] = reinterpret_cast<Slot>(&allocRefBlock);
  g_allocatorMethods[62] = reinterpret_cast<Slot>(&allocPlainBlock);
  g_allocatorMethods[63] = reinterpret_cast<Slot>(&freeDoubles);

  g_evaluatorMethods = trapTable<false>(std::make_integer_sequence<int, kEvaluatorSlots>{});
  g_evaluatorMethods[3] = reinterpret_cast<Slot>(&evalApply);
  g_evaluatorMethods[4] = reinterpret_cast<Slot>(&evalBefore);
  g_evaluatorMethods[5] = reinterpret_cast<Slot>(&evalPrepare);
  g_evaluatorMethods[7] = reinterpret_cast<Slot>(&evalAfter);
  g_evaluatorMethods[10] = reinterpret_cast<Slot>(&evalPoll);
  g_evaluatorMethods[11] = reinterpret_cast<Slot>(&evalRelease);
}

// ---------------------------------------------------------------------------------------------
// The pack's exports

void* g_pack = nullptr;

const void* packSymbol(const char* name) {
  const void* p = dlsym(g_pack, name);
  expect(p != nullptr, "export %s: expected a symbol, found none", name);
  return p;
}

// Value of a pointer variable of the host library, seen through the pack's dependencies; null
// when the host library does not export it under its plain name (the cross-check is then skipped).
std::vector<std::string> g_unresolvedHostVars;
const void* hostVariable(const char* name) {
  const void* p = dlsym(g_pack, name);
  if (!p) {
    g_unresolvedHostVars.push_back(name);
    return nullptr;
  }
  return *static_cast<const void* const*>(p);
}

std::string textOf(const SString* s) {
  if (!s) return "(null record)";
  if (!s->text) return "(null text)";
  return "\"" + std::string(s->text) + "\"";
}

// ---------------------------------------------------------------------------------------------
// Descriptor table

enum class Deps { None, Tol, Origin, Both };

struct RowSpec {
  const char* name;
  const char* hostName;  // host variable holding the name record, or null for string_<name>
  const char* signature;
  Deps deps;
  uint32_t kind;
  const char* rule;  // null: the host's StripUnit_sString
};

const char* const kLambdaEqDims = " (%lambda (a) (-EqDims a)) ";
const char* const kLookupRule = "(%lambda(k s r)(%sequence ((-VDimless r)(-EqDims k s))))";

const RowSpec kRows[] = {
    /*  0 */ {"rows", nullptr, "Any_to_Any", Deps::None, 8, nullptr},
    /*  1 */ {"cols", nullptr, "Any_to_Any", Deps::None, 8, nullptr},
    /*  2 */ {"identity", nullptr, "Any_to_Any", Deps::None, 8, "-VDimless"},
    /*  3 */ {"last", nullptr, "Any_Any_to_Num", Deps::Origin, 12, nullptr},
    /*  4 */ {"length", nullptr, "Any_to_Num", Deps::None, 12, nullptr},
    /*  5 */ {"max", nullptr, "Variable_to_Num", Deps::None, 12, "-EqDims"},
    /*  6 */ {"min", nullptr, "Variable_to_Num", Deps::None, 12, "-EqDims"},
    /*  7 */ {"reverse", nullptr, "Any_to_Any", Deps::None, 12, kLambdaEqDims},
    /*  8 */
    {"submatrix", nullptr, "Any_Any_Any_Any_Any_Any_to_Any", Deps::Origin, 12,
     " (%lambda(a b c d e) ( %sequence ( (-VDimless b c d e) ( -EqDims a ) ) ) )"},
    /*  9 */ {"transpose", "Transpose_sString", "Any_to_Any", Deps::None, 12, "-EqDims"},
    /* 10 */ {"tr", nullptr, "Any_to_Any", Deps::None, 12, "-EqDims"},
    /* 11 */ {"augment", nullptr, "Variable_to_Num", Deps::None, 12, "-EqDims"},
    /* 12 */ {"stack", nullptr, "Variable_to_Num", Deps::None, 12, "-EqDims"},
    /* 13 */
    {"matrix", nullptr, "Any_Any_Any_to_Mat", Deps::None, 0,
     " (%lambda(a b function ) ( %sequence ( (-VDimless a b ) ( function a b) ) ) )"},
    /* 14 */ {"cond1", nullptr, "Any_to_Any", Deps::None, 12, "-EqDimsDimless"},
    /* 15 */ {"cond2", nullptr, "Any_to_Any", Deps::None, 12, "-EqDimsDimless"},
    /* 16 */ {"conde", nullptr, "Any_to_Any", Deps::None, 12, "-EqDimsDimless"},
    /* 17 */ {"condi", nullptr, "Any_to_Any", Deps::None, 12, "-EqDimsDimless"},
    /* 18 */
    {"cholesky", nullptr, "Any_to_Mat", Deps::None, 12, " (%lambda (a)( -DimsLikeRoot a 2 ) ) "},
    /* 19 */ {"diag", "diag_sString", "Any_to_Any", Deps::None, 12, "-VDimless"},
    /* 20 */ {"eigenvals", nullptr, "Any_Any_to_Any", Deps::Tol, 12, kLambdaEqDims},
    /* 21 */ {"eigenvecs", nullptr, "Any_to_Any", Deps::None, 12, "-EqDimsDimless"},
    /* 22 */ {"eigenvec", nullptr, "Any_Any_to_Mat", Deps::None, 12, "-EqDimsDimless"},
    /* 23 */ {"genvals", nullptr, "Any_Any_to_Any", Deps::None, 12, "-DimsLikeDiv"},
    /* 24 */
    {"genvecs", nullptr, "Any_Any_to_Any", Deps::None, 12, " (%lambda(a b)( -EqDimsDimless a ) ) "},
    /* 25 */
    {"geninv", nullptr, "Any_Any_to_Mat", Deps::Tol, 12, " (%lambda (a)( -DimsLikePower a -1 ) ) "},
    /* 26 */
    {"lsolve", nullptr, "Any_Any_to_Any", Deps::None, 12, " (%lambda(a b)( -DimsLikeDiv b a ) ) "},
    /* 27 */ {"lu", nullptr, "Any_to_Mat", Deps::None, 12, "-VDimless"},
    /* 28 */ {"norm1", nullptr, "Any_to_Num", Deps::None, 12, "-EqDims"},
    /* 29 */ {"norm2", nullptr, "Any_to_Num", Deps::None, 12, "-EqDims"},
    /* 30 */ {"norme", nullptr, "Any_to_Any", Deps::None, 12, "-EqDims"},
    /* 31 */ {"normi", nullptr, "Any_to_Any", Deps::None, 12, "-EqDims"},
    /* 32 */ {"qr", nullptr, "Any_to_Any", Deps::None, 12, " (-lambda (a) (%DimsLikeRoot a 2) ) "},
    /* 33 */ {"rank", nullptr, "Any_to_Any", Deps::None, 12, "-EqDimsDimless"},
    /* 34 */ {"rref", nullptr, "Any_to_Mat", Deps::None, 12, "-VDimless"},
    /* 35 */ {"svd", nullptr, "Any_to_Any", Deps::None, 12, "-VDimless"},
    /* 36 */ {"svds", nullptr, "Any_to_Any", Deps::None, 12, "-VDimless"},
    /* 37 */
    {"lookup", nullptr, "Any_Any_Any_Any_to_Any", Deps::Tol, 8,
     "(%lambda(k s t)(%sequence ((-EqDims k s)(-EqDims t))))"},
    /* 38 */ {"hlookup", nullptr, "Any_Any_Any_Any_Any_to_Any", Deps::Both, 8, kLookupRule},
    /* 39 */ {"vlookup", nullptr, "Any_Any_Any_Any_Any_to_Any", Deps::Both, 8, kLookupRule},
    /* 40 */ {"match", nullptr, "Any_Any_Any_Any_to_Any", Deps::Both, 8, "-EqDimsDimless"},
};
constexpr int kNumRows = 41;
static_assert(sizeof(kRows) / sizeof(kRows[0]) == kNumRows);

// Rule names count their NUL in the length field; rule expressions do not.
bool isRuleName(const std::string& rule) {
  static const std::set<std::string> names = {"-EqDims", "-EqDimsDimless", "-VDimless",
                                              "-DimsLikeDiv"};
  return names.count(rule) != 0;
}

struct Lists {
  const SCons* tol;
  const SCons* origin;
  const SCons* both;
};

Lists checkDependencyLists() {
  const auto* tolName = static_cast<const SString*>(packSymbol("string_TOL"));
  const auto* tolId = static_cast<const SIdentifier*>(packSymbol("identifier_TOL"));
  Lists lists{static_cast<const SCons*>(packSymbol("TOLLIST")),
              static_cast<const SCons*>(packSymbol("ORIGINLIST")),
              static_cast<const SCons*>(packSymbol("BOTHLIST"))};

  if (tolName) {
    expect(tolName->tag == kTagString && tolName->text && !std::strcmp(tolName->text, "TOL") &&
               tolName->length == 4,
           "string_TOL: expected {3, \"TOL\", 4}, found {%u, %s, %u}", tolName->tag,
           textOf(tolName).c_str(), tolName->length);
  }
  if (tolId) {
    expect(tolId->tag == kTagIdentifier && tolId->zero == 0 && tolId->name == tolName &&
               tolId->two == 2,
           "identifier_TOL: expected {10, 0, &string_TOL=%p, 2}, found {%u, %u, %p, %u}",
           (const void*)tolName, tolId->tag, tolId->zero, (const void*)tolId->name, tolId->two);
  }
  if (lists.tol) {
    expect(lists.tol->car == tolId && lists.tol->cdr == nullptr,
           "TOLLIST: expected (identifier_TOL=%p . null), found (%p . %p)", (const void*)tolId,
           lists.tol->car, (const void*)lists.tol->cdr);
  }
  if (lists.origin) {
    const auto* id = static_cast<const SIdentifier*>(lists.origin->car);
    expect(lists.origin->cdr == nullptr, "ORIGINLIST: expected a null cdr, found %p",
           (const void*)lists.origin->cdr);
    if (expect(id != nullptr, "ORIGINLIST: expected an identifier as car, found null")) {
      std::string name = textOf(id->name);
      expect(id->tag == kTagIdentifier && name == "\"ORIGIN\"",
             "ORIGINLIST car: expected identifier (tag 10) named \"ORIGIN\", found tag %u named %s",
             id->tag, name.c_str());
    }
    if (const void* hostOrigin = hostVariable("ORIGIN_sUnIdent")) {
      expect(id == hostOrigin, "ORIGINLIST car: expected the host's ORIGIN identifier %p, found %p",
             hostOrigin, (const void*)id);
    }
  }
  if (lists.both) {
    expect(lists.both->car == tolId && lists.both->cdr == lists.origin,
           "BOTHLIST: expected (identifier_TOL=%p . &ORIGINLIST=%p), found (%p . %p)",
           (const void*)tolId, (const void*)lists.origin, lists.both->car,
           (const void*)lists.both->cdr);
  }
  return lists;
}

void checkName(int row, const RowSpec& spec, const SString* name) {
  if (!expect(name != nullptr, "row %d (%s): name record: expected non-null, found null", row,
              spec.name))
    return;
  expect(name->tag == kTagString && name->text && !std::strcmp(name->text, spec.name),
         "row %d: name: expected string \"%s\", found tag %u text %s", row, spec.name, name->tag,
         textOf(name).c_str());
  if (spec.hostName) {
    if (const void* host = hostVariable(spec.hostName)) {
      expect(name == host, "row %d (%s): name record: expected the host's %s %p, found %p", row,
             spec.name, spec.hostName, host, (const void*)name);
    }
    return;
  }
  std::string symbol = std::string("string_") + spec.name;
  const void* exported = packSymbol(symbol.c_str());
  if (exported) {
    expect(name == exported, "row %d (%s): name record: expected %s=%p, found %p", row, spec.name,
           symbol.c_str(), exported, (const void*)name);
  }
  std::size_t chars = name->text ? std::strlen(name->text) : 0;
  expect(name->length == chars + 1, "%s: length: expected %zu (characters + NUL), found %u",
         symbol.c_str(), chars + 1, name->length);
}

void checkRule(int row, const RowSpec& spec, const SString* rule,
               std::map<std::string, const SString*>& shared) {
  const char* key = spec.rule ? spec.rule : "(StripUnit)";
  if (!expect(rule != nullptr, "row %d (%s): unit rule: expected a record, found null", row,
              spec.name))
    return;
  // A shared record is checked in full on its first row; later rows must point at it.
  auto [it, first] = shared.emplace(key, rule);
  if (!first) {
    expect(rule == it->second, "row %d (%s): unit rule %s: expected the shared record %p, found %p",
           row, spec.name, key, (const void*)it->second, (const void*)rule);
    return;
  }
  if (!spec.rule) {
    if (const void* host = hostVariable("StripUnit_sString")) {
      expect(rule == host, "row %d (%s): unit rule: expected StripUnit_sString %p, found %p", row,
             spec.name, host, (const void*)rule);
    }
    return;
  }
  expect(rule->tag == kTagString && rule->text && !std::strcmp(rule->text, spec.rule),
         "row %d (%s): unit rule: expected tag 3 text \"%s\", found tag %u text %s", row, spec.name,
         spec.rule, rule->tag, textOf(rule).c_str());
  std::size_t chars = std::strlen(spec.rule);
  std::size_t length = isRuleName(spec.rule) ? chars + 1 : chars;
  expect(rule->length == length, "row %d (%s): unit rule \"%s\": expected length %zu, found %u",
         row, spec.name, spec.rule, length, rule->length);
}

// Checks the table; returns the entry words (null where the function is not built yet).
std::vector<void*> checkTable() {
  std::vector<void*> entries(kNumRows, nullptr);
  const auto* count = static_cast<const int32_t*>(packSymbol("numFuncs"));
  const auto* table = static_cast<const Descriptor*>(packSymbol("theUfn"));
  if (count) expect(*count == kNumRows, "numFuncs: expected 41, found %d", *count);
  if (!table) return entries;

  const Lists lists = checkDependencyLists();
  std::map<std::string, const SString*> rules;
  std::map<std::string, const void*> signatures;
  for (int row = 0; row < kNumRows; ++row) {
    const RowSpec& spec = kRows[row];
    const Descriptor& d = table[row];

    if (expect(d.signature != nullptr, "row %d (%s): signature: expected non-null, found null", row,
               spec.name)) {
      auto [it, first] = signatures.emplace(spec.signature, d.signature);
      const void* want = first ? hostVariable(spec.signature) : it->second;
      if (want) {
        expect(d.signature == want, "row %d (%s): signature: expected %s=%p, found %p", row,
               spec.name, spec.signature, want, d.signature);
      }
    }
    const SCons* deps[] = {nullptr, lists.tol, lists.origin, lists.both};
    const char* depNames[] = {"null", "&TOLLIST", "&ORIGINLIST", "&BOTHLIST"};
    const int depIndex = static_cast<int>(spec.deps);
    expect(d.deps == deps[depIndex], "row %d (%s): dependency list: expected %s=%p, found %p", row,
           spec.name, depNames[depIndex], (const void*)deps[depIndex], (const void*)d.deps);
    expect(d.kind == spec.kind, "row %d (%s): kind word: expected 0x%08x, found 0x%08x", row,
           spec.name, spec.kind, d.kind);
    checkName(row, spec, d.name);
    expect(d.reserved == nullptr, "row %d (%s): reserved word: expected null, found %p", row,
           spec.name, d.reserved);
    checkRule(row, spec, d.rule, rules);
    entries[row] = d.entry;
  }
  for (int row : {0, 1, 3, 4}) {
    expect(entries[row] != nullptr, "row %d (%s): entry: expected an address, found null", row,
           kRows[row].name);
  }
  return entries;
}

// ---------------------------------------------------------------------------------------------
// Registration

void checkRegistration() {
  using Register = int32_t (*)();  // no arguments, so the callee-pops convention changes nothing
  auto reg = reinterpret_cast<Register>(dlsym(g_pack, "DllRegisterServer"));
  auto unreg = reinterpret_cast<Register>(dlsym(g_pack, "DllUnregisterServer"));
  expect(reg != nullptr, "export DllRegisterServer: expected a symbol, found none");
  expect(unreg != nullptr, "export DllUnregisterServer: expected a symbol, found none");
  if (!reg || !unreg) return;

  struct Step {
    const char* what;
    Register call;
    bool wantNegative;  // otherwise S_OK
  };
  const Step steps[] = {{"register", reg, false},
                        {"unregister", unreg, false},
                        {"unregister when not registered", unreg, true},
                        {"register again", reg, false},
                        {"unregister again", unreg, false}};
  for (const Step& s : steps) {
    const int32_t hr = s.call();
    if (s.wantNegative) {
      expect(hr < 0, "%s: expected a failure HRESULT, found 0x%08x", s.what, (unsigned)hr);
    } else {
      expect(hr == 0, "%s: expected S_OK, found 0x%08x", s.what, (unsigned)hr);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Argument values

Anyval* makeScalar(double re, double im) {
  auto* c = static_cast<Complex*>(handOut(sizeof(Complex), Origin::Argument));
  c->tag = kTagComplex;
  c->re = re;
  c->im = im;
  return reinterpret_cast<Anyval*>(c);
}

Anyval* makeString(const char* text) {
  const std::size_t n = std::strlen(text);
  auto* s = static_cast<SString*>(handOut(sizeof(SString) + n + 1, Origin::Argument));
  char* chars = reinterpret_cast<char*>(s + 1);
  std::memcpy(chars, text, n + 1);
  *s = SString{kTagString, chars, static_cast<uint32_t>(n)};
  return reinterpret_cast<Anyval*>(s);
}

// A rows × cols matrix with leading dimension ld; element (i, j) is i + 10 j in each present part.
// The gap rows between rows and ld hold NaN, which a correct reader never sees.
Anyval* makeMatrix(int rows, int cols, int ld, bool real, bool imag, uint32_t flags = 0) {
  auto* m = static_cast<Matrix*>(handOut(sizeof(Matrix), Origin::Argument));
  const std::size_t count = std::size_t(ld) * cols;
  auto array = [&](double scale) {
    auto* a = static_cast<double*>(handOut(count * 8, Origin::Argument));
    for (std::size_t k = 0; k < count; ++k) {
      const int i = int(k % ld), j = int(k / ld);
      a[k] = i < rows ? scale * (i + 10.0 * j) : std::nan("");
    }
    return a;
  };
  double* re = real ? array(1.0) : nullptr;
  double* im = imag ? array(-1.0) : nullptr;
  *m = Matrix{kTagMatrix, ld, uint32_t(count * 8), 0, re, im, rows, cols, 1, flags};
  return reinterpret_cast<Anyval*>(m);
}

// Makes element (i, j) an embedded reference to `value`.
void embed(Anyval* matrix, int i, int j, const Anyval* value) {
  auto* m = reinterpret_cast<Matrix*>(matrix);
  const uint64_t slot = (uint64_t{0xFFFFFFFFu} << 32) | reinterpret_cast<uintptr_t>(value);
  std::memcpy(&m->re[i + j * m->ld], &slot, sizeof slot);
}

void freeArgument(Anyval* v) {
  if (v->tag == kTagMatrix) {
    auto* m = reinterpret_cast<Matrix*>(v);
    takeBack(m->re);
    takeBack(m->im);
  }
  takeBack(v);
}

// ---------------------------------------------------------------------------------------------
// Calls and results

struct Expected {
  bool error;
  double value;         // scalar result
  const char* message;  // error result
  int first;            // -1: not checked
  int position;
};
Expected scalar(double v) {
  return {false, v, nullptr, 0, 0};
}
Expected error(const char* message, int first, int position) {
  return {true, 0, message, first, position};
}
Expected patched(const char* message, int position) {
  return {true, 0, message, -1, position};
}

struct Case {
  int row;
  const char* args;  // how the arguments read on a worksheet
  std::vector<Anyval*> values;
  Expected want;
};

uint16_t x87ControlWord() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

uint64_t bitsOf(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

std::string describe(const Anyval* v) {
  char buf[160];
  if (!v) return "null";
  switch (v->tag) {
    case kTagComplex: {
      const auto* c = reinterpret_cast<const Complex*>(v);
      std::snprintf(buf, sizeof buf, "scalar %.17g%+.17gi", c->re, c->im);
      return buf;
    }
    case kTagError: {
      const auto* e = reinterpret_cast<const Error*>(v);
      std::snprintf(buf, sizeof buf, "error %s (%d, %d)", textOf(e->message).c_str(), e->first,
                    e->position);
      return buf;
    }
    default:
      std::snprintf(buf, sizeof buf, "a value with tag %u", v->tag);
      return buf;
  }
}

void checkScalar(const std::string& call, const Anyval* result, double want) {
  const auto* c = reinterpret_cast<const Complex*>(result);
  expect(isBlock(result, Origin::Record8),
         "%s: expected a fresh record from allocator slot 8, found %p", call.c_str(),
         (const void*)result);
  expect(c->re == want && bitsOf(c->im) == 0,
         "%s: expected real scalar %g (imaginary +0), found %s", call.c_str(), want,
         describe(result).c_str());
}

void checkError(const std::string& call, const Anyval* result, const Expected& want) {
  const auto* e = reinterpret_cast<const Error*>(result);
  const SString* msg = e->message;
  const bool textOk = msg && msg->tag == kTagString && msg->text &&
                      !std::strcmp(msg->text, want.message) &&
                      msg->length == std::strlen(want.message);
  const std::string first = want.first < 0 ? "any" : std::to_string(want.first);
  expect(textOk && e->position == want.position && (want.first < 0 || e->first == want.first),
         "%s: expected error \"%s\" (%s, %d), found %s (message length %u)", call.c_str(),
         want.message, first.c_str(), want.position, describe(result).c_str(),
         msg ? msg->length : 0);
  expect(isBlock(e, Origin::Refs61), "%s: error record: expected a block from slot 61, found %p",
         call.c_str(), (const void*)e);
  expect(isBlock(msg, Origin::Plain62),
         "%s: error message: expected a block from slot 62, found %p", call.c_str(),
         (const void*)msg);
}

// Gives the result back as its owner would: a scalar is one block, an error its record and the
// block of its message string.
void releaseResult(const Anyval* result) {
  if (result->tag == kTagError) takeBack(reinterpret_cast<const Error*>(result)->message);
  if (result->tag == kTagMatrix) {
    const auto* m = reinterpret_cast<const Matrix*>(result);
    takeBack(m->re);
    takeBack(m->im);
  }
  takeBack(result);
}

Anyval* callEntry(void* entry, const std::vector<Anyval*>& args) {
  using Entry1 = Anyval* (*)(CallContext*, Anyval*);
  using Entry2 = Anyval* (*)(CallContext*, Anyval*, Anyval*);
  if (args.size() == 1) return reinterpret_cast<Entry1>(entry)(&g_context, args[0]);
  return reinterpret_cast<Entry2>(entry)(&g_context, args[0], args[1]);
}

void runCase(const Case& c, void* entry) {
  const std::string call = std::string(kRows[c.row].name) + "(" + c.args + ")";
  const uint16_t cw = x87ControlWord();
  Anyval* result = callEntry(entry, c.values);
  const uint16_t cwAfter = x87ControlWord();
  expect(cwAfter == cw, "%s: x87 control word: expected 0x%04x kept, found 0x%04x", call.c_str(),
         cw, cwAfter);

  if (!expect(result != nullptr, "%s: expected a result, found null", call.c_str())) return;
  for (const Anyval* arg : c.values) {
    if (!expect(result != arg, "%s: expected a fresh result, found an argument", call.c_str()))
      return;
  }
  const uint32_t wantTag = c.want.error ? kTagError : kTagComplex;
  if (!expect(result->tag == wantTag, "%s: expected %s, found %s", call.c_str(),
              c.want.error ? "an error" : "a scalar", describe(result).c_str())) {
    releaseResult(result);
    return;
  }
  if (c.want.error) {
    checkError(call, result, c.want);
  } else {
    checkScalar(call, result, c.want.value);
  }
  releaseResult(result);
}

void checkShapeFunctions(const std::vector<void*>& entries) {
  Anyval* five = makeScalar(5, 0);
  Anyval* text = makeString("abc");
  Anyval* m3x4 = makeMatrix(3, 4, 3, true, false);
  Anyval* m3x4ld7 = makeMatrix(3, 4, 7, true, false);
  Anyval* imagOnly = makeMatrix(2, 5, 2, false, true);
  Anyval* nested = makeMatrix(2, 3, 2, true, false, kNestedFlag);
  Anyval* inner1 = makeString("x");
  Anyval* inner2 = makeString("longer text");
  Anyval* inner3 = makeMatrix(2, 2, 2, true, true);
  embed(nested, 0, 0, inner1);
  embed(nested, 1, 2, inner2);
  embed(nested, 1, 1, inner3);
  Anyval* v5 = makeMatrix(5, 1, 5, true, false);
  Anyval* v1 = makeMatrix(1, 1, 1, true, false);
  Anyval* row3 = makeMatrix(1, 3, 1, true, false);
  Anyval* origin0 = makeScalar(0, 0);
  Anyval* origin1 = makeScalar(1, 0);
  Anyval* originComplex = makeScalar(2, 3);

  const char* arrayMsg = "must be array";
  const char* vectorMsg = "must be vector";
  const std::vector<Case> cases = {
      {0, "5", {five}, scalar(0)},
      {0, "3x4", {m3x4}, scalar(3)},
      {0, "3x4, ld 7", {m3x4ld7}, scalar(3)},
      {0, "2x5 imaginary only", {imagOnly}, scalar(2)},
      {0, "2x3 nested", {nested}, scalar(2)},
      {0, "5x1", {v5}, scalar(5)},
      {0, "\"abc\"", {text}, patched(arrayMsg, 1)},
      {1, "5", {five}, scalar(0)},
      {1, "3x4", {m3x4}, scalar(4)},
      {1, "3x4, ld 7", {m3x4ld7}, scalar(4)},
      {1, "2x5 imaginary only", {imagOnly}, scalar(5)},
      {1, "2x3 nested", {nested}, scalar(3)},
      {1, "5x1", {v5}, scalar(1)},
      {1, "\"abc\"", {text}, patched(arrayMsg, 1)},
      {4, "5x1", {v5}, scalar(5)},
      {4, "1x1", {v1}, scalar(1)},
      {4, "2x3 nested", {nested}, error(vectorMsg, 1, 0)},
      {4, "3x4", {m3x4}, error(vectorMsg, 1, 0)},
      {4, "1x3", {row3}, error(vectorMsg, 1, 0)},
      {4, "5", {five}, error(vectorMsg, 0, 1)},
      {4, "\"abc\"", {text}, error(vectorMsg, 0, 1)},
      {3, "5x1, ORIGIN 1", {v5, origin1}, scalar(5)},
      {3, "5x1, ORIGIN 0", {v5, origin0}, scalar(4)},
      {3, "5x1, ORIGIN 2+3i", {v5, originComplex}, scalar(6)},
      {3, "1x1, ORIGIN 1", {v1, origin1}, scalar(1)},
      {3, "1x3, ORIGIN 1", {row3, origin1}, error(vectorMsg, 0, 1)},
      {3, "3x4, ORIGIN 0", {m3x4, origin0}, error(vectorMsg, 0, 1)},
      {3, "5, ORIGIN 1", {five, origin1}, error(vectorMsg, 0, 1)},
      {3, "\"abc\", ORIGIN 0", {text, origin0}, error(vectorMsg, 0, 1)},
  };
  for (const Case& c : cases) {
    if (entries[c.row]) runCase(c, entries[c.row]);
  }

  for (Anyval* v : {five, text, m3x4, m3x4ld7, imagOnly, nested, inner1, inner2, inner3, v5, v1,
                    row3, origin0, origin1, originComplex}) {
    freeArgument(v);
  }
}

void checkNothingOutstanding() {
  if (g_blocks.empty()) ++g_checks;
  for (const auto& [block, origin] : g_blocks) {
    fail("block %p handed out by %s: expected given back, found outstanding", block,
         originName(origin));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s /path/to/libmatpack.so\n", argv[0]);
    return 2;
  }
  g_pack = dlopen(argv[1], RTLD_NOW);
  if (!g_pack) {
    std::printf("FAIL: dlopen %s: %s\n", argv[1], dlerror());
    std::printf("abi_client: pack not loaded\n");
    return 1;
  }
  buildHostObjects();

  const std::vector<void*> entries = checkTable();
  checkRegistration();
  checkShapeFunctions(entries);
  checkNothingOutstanding();

  int built = 0;
  std::string missing;
  for (int row = 0; row < kNumRows; ++row) {
    if (entries[row]) {
      ++built;
    } else {
      missing += std::string(missing.empty() ? "" : " ") + kRows[row].name;
    }
  }
  std::printf("entries built: %d of %d%s%s\n", built, kNumRows,
              missing.empty() ? "" : "; not yet: ", missing.c_str());
  if (!g_unresolvedHostVars.empty()) {
    std::string names;
    for (const std::string& n : g_unresolvedHostVars) names += " " + n;
    std::printf("note: host variables not visible, cross-checks skipped:%s\n", names.c_str());
  }
  std::printf("abi_client: %d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}
