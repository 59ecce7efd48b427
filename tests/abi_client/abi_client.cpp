// abi_client /path/to/libmatpack.so: a stand-alone 32-bit worksheet host that shares no headers
// with the pack and declares every record from its binary layout. It walks the function table and
// exported lists, registers the pack, and calls rows, cols, length and last through its own tracked
// allocator and evaluator. Prints one line per failed check and a summary; exits 0 if none failed.

#include <dlfcn.h>

#include <array>
#include <bit>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#define STDCALL __attribute__((stdcall))

namespace {

int g_checks = 0, g_failures = 0;

// Counts one check and prints a FAIL line when `ok` is false; returns `ok`.
__attribute__((format(printf, 2, 3))) bool expect(bool ok, const char* fmt, ...) {
  ++g_checks;
  if (ok) return true;
  ++g_failures;
  std::va_list ap;
  va_start(ap, fmt);
  std::vprintf((std::string("FAIL: ") + fmt + "\n").c_str(), ap);
  va_end(ap);
  return false;
}

// Records as the 32-bit host lays them out. A value is reached through its leading tag word.
enum Tag : uint32_t { kError = 0, kComplex = 2, kString = 3, kFunction = 4, kMatrix = 5, kId = 10 };
using Anyval = uint32_t;

struct aString {
  uint32_t tag;
  const char* text;
  uint32_t length;
};
struct sIdentifier {
  uint32_t tag, zero;
  const aString* name;
  uint32_t two;
};
struct sCons {
  const void* car;
  const sCons* cdr;
};
struct aComplex {
  uint32_t tag, hostWord;
  double re, im;
};
struct aMatrix {
  uint32_t tag;
  int32_t ld;
  uint32_t bytes, hostWord;
  double *re, *im;
  int32_t rows, cols;
  uint32_t refs, flags;
};
struct aError {
  uint32_t tag;
  int32_t first, position;
  const aString* message;
  uint32_t hostWords[2];
};
struct Descriptor {
  const void* signature;
  const sCons* deps;
  uint32_t kind;
  const aString* name;
  const void* reserved;
  void* entry;
  const aString* rule;
};
using Slot = void (*)();
struct Context {  // each member points at an object whose first word is its slot table
  const Slot* const* allocator;
  const Slot* const* evaluator;
};

static_assert(sizeof(void*) == 4, "abi_client models the 32-bit host: build it with -m32");
static_assert(sizeof(aComplex) == 24 && offsetof(aComplex, re) == 8 &&
              offsetof(aComplex, im) == 16);
static_assert(sizeof(aString) == 12 && sizeof(sIdentifier) == 16 && sizeof(sCons) == 8 &&
              sizeof(Context) == 8);
static_assert(sizeof(aMatrix) == 40 && offsetof(aMatrix, re) == 16 &&
              offsetof(aMatrix, rows) == 24 && offsetof(aMatrix, flags) == 36);
static_assert(sizeof(aError) == 24 && offsetof(aError, first) == 4 &&
              offsetof(aError, position) == 8 && offsetof(aError, message) == 12);
static_assert(sizeof(Descriptor) == 28 && offsetof(Descriptor, entry) == 20);

bool isText(const aString* s, const char* text) {
  return s && s->tag == kString && s->text && !std::strcmp(s->text, text);
}

// Every block this host hands out, with the allocator slot it came from (0: an argument).
std::map<const void*, int> g_blocks;

template <class T>
T* handOut(std::size_t bytes, int slot) {
  void* p = ::operator new(bytes + 1);  // + 1: distinct blocks even for zero bytes
  g_blocks[p] = slot;
  return static_cast<T*>(p);
}
bool isBlock(const void* p, int slot) {
  return g_blocks.count(p) && g_blocks.at(p) == slot;
}
// Frees a block this host handed out; anything else is left alone.
void takeBack(const void* p) {
  if (g_blocks.erase(p)) ::operator delete(const_cast<void*>(p));
}
// Frees a value with its arrays (a matrix) or its message (an error).
void takeBackValue(const Anyval* v) {
  const auto* m = reinterpret_cast<const aMatrix*>(v);
  if (*v == kMatrix) {
    takeBack(m->re);
    takeBack(m->im);
  }
  if (*v == kError) takeBack(reinterpret_cast<const aError*>(v)->message);
  takeBack(v);
}

// Allocator slots: 8 hands out a value record, 60 `count` doubles, 61 and 62 `count` bytes, and
// 63 frees an array from slot 60.
STDCALL int32_t allocRecord(void*, Anyval** out) {
  *out = handOut<Anyval>(sizeof(aComplex), 8);
  return 0;
}
template <int N, class T, std::size_t Unit>
STDCALL int32_t allocCount(void*, T** out, uint32_t count) {
  *out = handOut<T>(Unit * count, N);
  return 0;
}
STDCALL int32_t freeDoubles(void*, double* array) {
  if (expect(isBlock(array, 60), "allocator slot 63: expected a slot-60 array, found %p", array))
    takeBack(array);
  return 0;
}
// Evaluator slots: 3 applies a function value of this host (tag 4, then its C function), 4, 5, 7
// and 10 (the interrupt poll) have nothing to do, and 11 releases a temporary value.
STDCALL int32_t evalApply(void*, const Anyval* fn, const sCons* args, Anyval** out) {
  using Fn = Anyval* (*)(const sCons*);
  const bool ok = expect(fn && *fn == kFunction, "evaluator slot 3: expected a function value");
  *out = ok ? reinterpret_cast<const Fn*>(fn)[1](args) : nullptr;
  return 0;
}
template <class... Args>
STDCALL int32_t evalNothing(void*, Args...) {
  return 0;
}
STDCALL int32_t evalRelease(void*, Anyval** value) {
  if (*value && g_blocks.count(*value)) takeBackValue(*value);
  return 0;
}

// Every slot not filled above aborts with its number.
template <bool IsAllocator, int N>
STDCALL int32_t unexpectedSlot(void*) {
  std::printf("unexpected %s slot %d\n", IsAllocator ? "allocator" : "evaluator", N);
  std::fflush(stdout);
  std::abort();
}
const auto at = [](int n, auto fn) { return std::pair{n, reinterpret_cast<Slot>(fn)}; };
template <bool IsAllocator, int... N>
std::array<Slot, sizeof...(N)> slotTable(std::integer_sequence<int, N...>,
                                         std::map<int, Slot> filled) {
  return {(filled.count(N) ? filled[N] : at(N, &unexpectedSlot<IsAllocator, N>).second)...};
}
const std::array<Slot, 64> g_allocatorSlots = slotTable<true>(
    std::make_integer_sequence<int, 64>{},
    {at(8, &allocRecord), at(60, &allocCount<60, double, 8>), at(61, &allocCount<61, void, 1>),
     at(62, &allocCount<62, void, 1>), at(63, &freeDoubles)});
const std::array<Slot, 12> g_evaluatorSlots = slotTable<false>(
    std::make_integer_sequence<int, 12>{},
    {at(3, &evalApply), at(4, &evalNothing<Anyval**>), at(5, &evalNothing<Anyval**>),
     at(7, &evalNothing<>), at(10, &evalNothing<int32_t>), at(11, &evalRelease)});
const Slot* const g_allocator = g_allocatorSlots.data();
const Slot* const g_evaluator = g_evaluatorSlots.data();
Context g_context{&g_allocator, &g_evaluator};

void* g_pack = nullptr;

template <class T>
const T* exported(const std::string& name) {
  const auto* p = static_cast<const T*>(dlsym(g_pack, name.c_str()));
  expect(p != nullptr, "export %s: expected a symbol, found none", name.c_str());
  return p;
}

// Checks the list records, then the structure of every row; returns the table (null if missing).
const Descriptor* checkTable() {
  const auto* count = exported<int32_t>("numFuncs");
  const auto* table = exported<Descriptor>("theUfn");
  const auto* tolName = exported<aString>("string_TOL");
  const auto* tol = exported<sIdentifier>("identifier_TOL");
  const sCons* lists[] = {exported<sCons>("TOLLIST"), exported<sCons>("ORIGINLIST"),
                          exported<sCons>("BOTHLIST")};
  if (!count || !table || !tolName || !tol || !lists[0] || !lists[1] || !lists[2]) return nullptr;
  expect(*count == 41, "numFuncs: expected 41, found %d", *count);
  expect(isText(tolName, "TOL") && tolName->length == 4, "string_TOL: expected {3, \"TOL\", 4}");
  expect(tol->tag == kId && tol->zero == 0 && tol->name == tolName && tol->two == 2,
         "identifier_TOL: expected {10, 0, &string_TOL, 2}");
  expect(lists[0]->car == tol && !lists[0]->cdr, "TOLLIST: expected (identifier_TOL)");
  const auto* origin = static_cast<const sIdentifier*>(lists[1]->car);
  expect(origin && origin->tag == kId && isText(origin->name, "ORIGIN") && !lists[1]->cdr,
         "ORIGINLIST: expected one identifier (tag 10) named \"ORIGIN\"");
  expect(lists[2]->car == tol && lists[2]->cdr == lists[1],
         "BOTHLIST: expected (identifier_TOL . &ORIGINLIST)");

  for (int i = 0; i < 41; ++i) {
    const Descriptor& row = table[i];
    auto check = [i](bool ok, const char* what) { return expect(ok, "row %d: %s", i, what); };
    check(row.signature && !row.reserved && (row.kind == 0 || row.kind == 8 || row.kind == 12),
          "expected a signature, a null reserved word and kind 0, 8 or 12");
    check(!row.deps || row.deps == lists[0] || row.deps == lists[1] || row.deps == lists[2],
          "dependency list: expected null, TOLLIST, ORIGINLIST or BOTHLIST");
    const aString* name = row.name;
    // Rows 9 and 19 use name records of the host; every other row exports string_<name>.
    if (check(name && name->tag == kString && name->text && *name->text,
              "name: expected a non-empty string record") &&
        i != 9 && i != 19) {
      check(name == exported<aString>(std::string("string_") + name->text),
            "name: expected the exported string_<name>");
      check(name->length == std::strlen(name->text) + 1, "name: expected length with NUL");
    }
    const aString* rule = row.rule;
    if (check(rule && rule->tag == kString && rule->text, "unit rule: expected a string")) {
      const std::size_t n = std::strlen(rule->text);
      check(rule->length == n || rule->length == n + 1, "unit rule: expected length n or n+1");
    }
  }
  for (int i : {0, 1, 3, 4}) expect(table[i].entry != nullptr, "row %d: expected an entry", i);
  return table;
}

// Register, unregister, unregister again (not registered: fails), register, unregister.
void checkRegistration() {
  using Register = int32_t (*)();  // no arguments, so callee-pops changes nothing
  auto reg = reinterpret_cast<Register>(dlsym(g_pack, "DllRegisterServer"));
  auto unreg = reinterpret_cast<Register>(dlsym(g_pack, "DllUnregisterServer"));
  if (!expect(reg && unreg, "exports DllRegisterServer/DllUnregisterServer: expected both")) return;
  const int32_t hr[] = {reg(), unreg(), unreg(), reg(), unreg()};  // evaluated in order
  expect(hr[0] == 0 && hr[1] == 0 && hr[2] < 0 && hr[3] == 0 && hr[4] == 0,
         "registration: expected S_OK, S_OK, a failure, S_OK, S_OK; found %x, %x, %x, %x, %x",
         hr[0], hr[1], hr[2], hr[3], hr[4]);
}

// Arguments are blocks of this host (slot 0), freed once every case has run.
template <class T>
Anyval* argument(const T& record) {
  return reinterpret_cast<Anyval*>(new (handOut<T>(sizeof(T), 0)) T(record));
}
// A rows x cols matrix with leading dimension ld; element (i, j) is i + 10 j in each present part.
Anyval* matrix(int rows, int cols, int ld, bool re = true, bool im = false, uint32_t flags = 0) {
  const std::size_t count = std::size_t(ld) * cols;
  auto array = [&](bool present) {
    double* a = present ? handOut<double>(count * 8, 0) : nullptr;
    for (std::size_t k = 0; a && k < count; ++k) a[k] = int(k % ld) + 10.0 * int(k / ld);
    return a;
  };
  return argument(
      aMatrix{kMatrix, ld, uint32_t(count * 8), 0, array(re), array(im), rows, cols, 1, flags});
}
// Makes element (i, j) an embedded reference: the pointer under an all-ones high word.
void embed(Anyval* m, int i, int j, const Anyval* value) {
  const uint64_t word = (uint64_t{0xFFFFFFFFu} << 32) | reinterpret_cast<uintptr_t>(value);
  const auto* record = reinterpret_cast<aMatrix*>(m);
  std::memcpy(&record->re[i + j * record->ld], &word, sizeof word);
}

uint16_t x87ControlWord() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

struct Case {
  int row;
  const char* call;  // how the call reads on a worksheet
  std::vector<Anyval*> args;
  double value;                   // the scalar result, when `message` is null
  const char* message = nullptr;  // the error result: message, first integer (-1: any) and position
  int first = 0, position = 0;
};

void runCase(const Case& c, void* entry) {
  auto call = [&](auto... args) {  // cdecl: the context, then the arguments
    return reinterpret_cast<Anyval* (*)(Context*, decltype(args)...)>(entry)(&g_context, args...);
  };
  const uint16_t cw = x87ControlWord();
  Anyval* result = c.args.size() == 1 ? call(c.args[0]) : call(c.args[0], c.args[1]);
  expect(x87ControlWord() == cw, "%s: x87 control word: expected 0x%04x kept", c.call, cw);
  if (!expect(result != nullptr, "%s: expected a result, found null", c.call)) return;
  const auto* r = reinterpret_cast<const aComplex*>(result);
  const auto* e = reinterpret_cast<const aError*>(result);
  const aString* m = *result == kError ? e->message : nullptr;
  if (!c.message) {
    expect(isBlock(r, 8) && r->tag == kComplex && r->re == c.value &&
               std::bit_cast<uint64_t>(r->im) == 0,
           "%s: expected a fresh slot-8 scalar %g+0i, found tag %u (%g, %g)", c.call, c.value,
           r->tag, r->re, r->im);
  } else {
    expect(isBlock(e, 61) && isBlock(m, 62) && isText(m, c.message) &&
               m->length == std::strlen(c.message) && e->position == c.position &&
               (c.first < 0 || e->first == c.first),
           "%s: expected slot-61 error \"%s\" (%d, %d), found tag %u \"%s\" (%d, %d)", c.call,
           c.message, c.first, c.position, e->tag, m && m->text ? m->text : "", e->first,
           e->position);
  }
  takeBackValue(result);
}

void checkCalls(const Descriptor* table) {
  auto scalar = [](double re, double im = 0) { return argument(aComplex{kComplex, 0, re, im}); };
  auto text = [](const char* s) { return argument(aString{kString, s, uint32_t(std::strlen(s))}); };
  Anyval *five = scalar(5), *str = text("abc"), *m3x4 = matrix(3, 4, 3), *ld7 = matrix(3, 4, 7);
  Anyval *imagOnly = matrix(2, 5, 2, false, true), *nested = matrix(2, 3, 2, true, false, 2);
  embed(nested, 0, 0, text("x"));  // flags 2: nested, holding embedded references
  embed(nested, 1, 2, text("longer text"));
  Anyval *v5 = matrix(5, 1, 5), *row3 = matrix(1, 3, 1);
  Anyval *origin0 = scalar(0), *origin1 = scalar(1), *origin23 = scalar(2, 3);
  const Case cases[] = {
      {0, "rows(5)", {five}, 0},
      {0, "rows(3x4)", {m3x4}, 3},
      {0, "rows(3x4 in ld 7)", {ld7}, 3},
      {0, "rows(2x5 imaginary only)", {imagOnly}, 2},
      {0, "rows(2x3 nested)", {nested}, 2},
      {0, "rows(\"abc\")", {str}, 0, "must be array", -1, 1},
      {1, "cols(5)", {five}, 0},
      {1, "cols(3x4)", {m3x4}, 4},
      {1, "cols(3x4 in ld 7)", {ld7}, 4},
      {1, "cols(2x5 imaginary only)", {imagOnly}, 5},
      {1, "cols(2x3 nested)", {nested}, 3},
      {1, "cols(\"abc\")", {str}, 0, "must be array", -1, 1},
      {4, "length(5x1)", {v5}, 5},
      {4, "length(3x4)", {m3x4}, 0, "must be vector", 1, 0},
      {4, "length(5)", {five}, 0, "must be vector", 0, 1},
      {3, "last(5x1) with ORIGIN 1", {v5, origin1}, 5},
      {3, "last(5x1) with ORIGIN 0", {v5, origin0}, 4},
      {3, "last(5x1) with ORIGIN 2+3i", {v5, origin23}, 6},
      {3, "last(1x3) with ORIGIN 1", {row3, origin1}, 0, "must be vector", 0, 1},
      {3, "last(5) with ORIGIN 1", {five, origin1}, 0, "must be vector", 0, 1},
  };
  for (const Case& c : cases)
    if (table[c.row].entry) runCase(c, table[c.row].entry);
  // Free the arguments, with the strings embedded in `nested`.
  std::erase_if(g_blocks, [](const auto& block) {
    if (block.second == 0) ::operator delete(const_cast<void*>(block.first));
    return block.second == 0;
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s /path/to/libmatpack.so\n", argv[0]);
    return 2;
  }
  g_pack = dlopen(argv[1], RTLD_NOW);
  const Descriptor* table = nullptr;
  if (expect(g_pack != nullptr, "dlopen %s: %s", argv[1], g_pack ? "" : dlerror())) {
    table = checkTable();
    checkRegistration();
    if (table) checkCalls(table);
  }
  expect(g_blocks.empty(), "blocks handed out: expected none left, found %zu (first from slot %d)",
         g_blocks.size(), g_blocks.empty() ? 0 : g_blocks.begin()->second);

  int available = 0;
  for (int i = 0; table && i < 41; ++i) available += table[i].entry != nullptr;
  std::printf("entries available: %d of 41\n", available);
  std::printf("abi_client: %d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}
