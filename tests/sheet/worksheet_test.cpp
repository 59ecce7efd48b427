// The worksheet's calls into a pack, checked against a small fake table: system variables
// appended per row, counted rows, rows without an entry, exceptions out of the pack, the
// inverse operator, worksheet functions called back by the pack, Ctrl-C, and a session
// that stays the same size. The language itself is covered by the golden sheets.
#include "sheet/worksheet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdarg>

#include "pack/errors.h"
#include "pack/exports.h"
#include "pack/heap.h"
#include "pack/ownership.h"
#include "sheet/interrupt.h"

namespace {

// ---- The fake pack

sString tolName{kTagString, "TOL", 4};
sString originName{kTagString, "ORIGIN", 7};
sIdentifier tolIdentifier{kTagIdentifier, 0, &tolName, 2};
sIdentifier originIdentifier{kTagIdentifier, 0, &originName, 2};
sCons originList{&originIdentifier, nullptr};
sCons bothList{&tolIdentifier, &originList};

double re(Anyval* v) {
  return as<aComplex>(v)->re;
}

// [a, b, TOL, ORIGIN]
Anyval* pairEntry(UfnCallContext* ctx, Anyval* a, Anyval* b, Anyval* tol, Anyval* origin) {
  double* parts = hostArray(ctx, 4);
  const double values[] = {re(a), re(b), re(tol), re(origin)};
  std::copy(values, values + 4, parts);
  return asValue(aMatrix::mk(ctx->allocator, 1, 4, parts, nullptr, 32));
}

// [count, sum of the arguments]
Anyval* countEntry(UfnCallContext* ctx, int count, ...) {
  va_list args;
  va_start(args, count);
  double sum = 0;
  for (int k = 0; k < count; ++k) sum += re(va_arg(args, Anyval*));
  va_end(args);
  double* parts = hostArray(ctx, 2);
  parts[0] = count;
  parts[1] = sum;
  return asValue(aMatrix::mk(ctx->allocator, 1, 2, parts, nullptr, 16));
}

Anyval* throwingEntry(UfnCallContext*, Anyval*) {
  throw HostAllocFailure();
}

Anyval* failingEntry(UfnCallContext* ctx, Anyval*) {
  return errorValue(ctx, "must be square", 1);
}

Anyval* tagEntry(UfnCallContext* ctx, Anyval* v) {
  return scalarValue(ctx, v->tag);
}

Anyval* pollEntry(UfnCallContext* ctx, Anyval*) {
  return scalarValue(ctx, ctx->evaluator->table->pollInterrupt(ctx->evaluator, 1));
}

// A 2 x 1 matrix whose part array comes from the pack's heap.
Anyval* heapEntry(UfnCallContext* ctx, Anyval* v) {
  heap::Array<double> parts(2);
  parts[0] = parts[1] = re(v);
  return asValue(aMatrix::mk(ctx->allocator, 2, 1, parts.handOver(), nullptr, 16));
}

// Calls f at (k, 1) for k = 0 .. 99 the way matrix does, and sums the results; a result
// that is not a scalar is returned as it is. Records the most host blocks in use meanwhile.
sheet::Allocator* watched = nullptr;
size_t mostBlocks = 0;

// Its argument; at 30 it presses Ctrl-C, as a user would during a long call. Counts calls.
sheet::Evaluator* pressed = nullptr;
int ctrlcCalls = 0;

Anyval* ctrlcEntry(UfnCallContext* ctx, Anyval* v) {
  ++ctrlcCalls;
  if (re(v) == 30) pressed->requestInterrupt();
  return scalarValue(ctx, re(v));
}

Anyval* applyEntry(UfnCallContext* ctx, Anyval* f) {
  IwsEvaluator* evaluator = ctx->evaluator;
  double sum = 0;
  for (int k = 0; k < 100; ++k) {
    aComplex i{kTagScalar, 0, double(k), 0};
    aComplex j{kTagScalar, 0, 1, 0};
    sCons second{&j, nullptr};
    sCons first{&i, &second};
    Anyval* result = nullptr;
    evaluator->table->beginApply(evaluator, &result);
    evaluator->table->prepareApply(evaluator, &result);
    evaluator->table->apply(evaluator, f, &first, &result);
    evaluator->table->endApply(evaluator);
    if (!isScalar(result)) return result;
    sum += re(result);
    mostBlocks = std::max(mostBlocks, watched->outstanding());
  }
  return scalarValue(ctx, sum);
}

template <class Entry>
const void* entry(Entry e) {
  return reinterpret_cast<const void*>(e);
}

sFunctionInfo oneArgument{1, "Any_to_Any"};
sFunctionInfo fourArguments{4, "Any_Any_Any_Any_to_Any"};
sFunctionInfo counted{sFunctionInfo::kVariadic, "Variable_to_Num"};

sString names[] = {{kTagString, "pair", 5},    {kTagString, "count", 6},
                   {kTagString, "missing", 8}, {kTagString, "throws", 7},
                   {kTagString, "fails", 6},   {kTagString, "tag", 4},
                   {kTagString, "poll", 5},    {kTagString, "heapcol", 8},
                   {kTagString, "apply", 6},   {kTagString, "ctrlc", 6}};

const sFunctionDescriptor table[] = {
    {&fourArguments, &bothList, 12, &names[0], nullptr, entry(pairEntry), &tolName},
    {&counted, nullptr, 12, &names[1], nullptr, entry(countEntry), &tolName},
    {&oneArgument, nullptr, 12, &names[2], nullptr, nullptr, &tolName},
    {&oneArgument, nullptr, 12, &names[3], nullptr, entry(throwingEntry), &tolName},
    {&oneArgument, nullptr, 12, &names[4], nullptr, entry(failingEntry), &tolName},
    {&oneArgument, nullptr, 12, &names[5], nullptr, entry(tagEntry), &tolName},
    {&oneArgument, nullptr, 12, &names[6], nullptr, entry(pollEntry), &tolName},
    {&oneArgument, nullptr, 12, &names[7], nullptr, entry(heapEntry), &tolName},
    {&oneArgument, nullptr, 0, &names[8], nullptr, entry(applyEntry), &tolName},
    {&oneArgument, nullptr, 12, &names[9], nullptr, entry(ctrlcEntry), &tolName},
};

HRESULT WS_STDCALL noRegistration() {
  return kHrOk;
}

// The inverse: 1 / a for a 1 x 1 matrix [a], "must be square" otherwise.
Anyval* fakeInverse(UfnCallContext* ctx, Anyval* v) {
  const aMatrix* m = as<aMatrix>(v);
  if (m->rows != 1 || m->cols != 1) return errorValue(ctx, "must be square", 0, 0);
  double* parts = hostArray(ctx, 1);
  parts[0] = 1 / m->re[0];
  return asValue(aMatrix::mk(ctx->allocator, 1, 1, parts, nullptr, 8));
}

// ---- The fixture

// Keeps each statement's outcome as JSON, or as "host error: " and the text.
class Recorder : public sheet::Output {
 public:
  void value(int, const std::string&, const Anyval* v) override { last = sheet::jsonValue(v); }
  void hostError(int, const std::string& text) override { last = "host error: " + text; }
  std::string last;
};

class WorksheetTest : public ::testing::Test {
 protected:
  explicit WorksheetTest(sheet::InverseEntry inverse = fakeInverse)
      : pack(sheet::PackLibrary::linked(table, std::size(table), noRegistration, noRegistration)),
        worksheet(pack, host, inverse) {
    watched = &host.allocator;
    pressed = &host.evaluator;
  }

  // The outcome of one statement ("" for a definition).
  std::string run(const std::string& line) {
    out.last.clear();
    worksheet.run(line, "t", 1, out);
    return out.last;
  }

  static std::string scalar(double x) {
    return sheet::jsonValue(
        asValue(std::make_unique<aComplex>(aComplex{kTagScalar, 0, x, 0}).get()));
  }

  sheet::Host host;
  sheet::PackLibrary pack;
  sheet::Worksheet worksheet;
  Recorder out;
};

struct Case {
  const char* statement;
  const char* outcome;
};

TEST_F(WorksheetTest, CallsRowsAsAHostDoes) {
  const Case cases[] = {
      {"pair(1, 2)", R"("re": [[1, 2, 0.001, 0]])"},
      {"TOL := 0.5", ""},
      {"ORIGIN := 3", ""},
      {"pair(1, 2)", R"("re": [[1, 2, 0.5, 3]])"},
      {"count(1, 2, 3)", R"("re": [[3, 6]])"},
      {"count()", R"("re": [[0, 0]])"},
      {"pair(1)", "host error: t:1: pair takes 2 arguments, not 1"},
      {"missing(1)", "host error: t:1: missing is not available in this pack yet"},
      {"throws(1)", "host error: t:1: throws raised an exception: gc: memory allocation failed"},
      {"fails(1)", R"({"type": "error", "message": "must be square", "position": [0, 1]})"},
      {"2 * fails(1) + 1", R"({"type": "error", "message": "must be square", "position": [0, 1]})"},
      {"pair(fails(1), 2)", R"("message": "must be square")"},
      {"[2]^-1", R"("re": [[0.5]])"},
      {"[1, 2]^-1", R"({"type": "error", "message": "must be square", "position": [0, 0]})"},
      {"f(a, b) := a + b", ""},
      {"tag(f)", R"("re": 8,)"},
      {"g := f", ""},
      {"tag(g)", R"("re": 8,)"},
  };
  for (const Case& c : cases) {
    const std::string outcome = run(c.statement);
    if (*c.outcome == '\0' || std::string(c.outcome).rfind("host error", 0) == 0) {
      EXPECT_EQ(outcome, c.outcome) << c.statement;
    } else {
      EXPECT_NE(outcome.find(c.outcome), std::string::npos) << c.statement << " gave " << outcome;
    }
  }
  EXPECT_EQ(worksheet.statements(), static_cast<int>(std::size(cases)));
}

TEST_F(WorksheetTest, PackCallsBackIntoWorksheetFunctions) {
  run("f(i, j) := i + 10 * j");
  EXPECT_EQ(run("apply(f)"), scalar(4950 + 1000));
  run("g(i, j) := [i]");
  EXPECT_NE(run("apply(g)").find(R"("re": [[0]])"), std::string::npos);
  run("h(i, j) := i + nothing");
  EXPECT_EQ(run("apply(h)"), "host error: t:1: in h: unknown name 'nothing'");
  run("k(i) := i");
  EXPECT_EQ(run("apply(k)"), "host error: t:1: k takes 1 argument, not 2");
  run("e(i, j) := fails(i)");
  EXPECT_NE(run("apply(e)").find("must be square"), std::string::npos);
  EXPECT_EQ(run("1 + 1"), scalar(2)) << "the failed call leaves nothing behind";
}

TEST_F(WorksheetTest, ReleasesWhatEachCallBackBuilt) {
  run("f(i, j) := ([i, j; 1, 2] * [1; 1])[0] * 0 + i");
  const size_t before = host.allocator.outstanding();
  mostBlocks = 0;
  EXPECT_EQ(run("apply(f)"), scalar(4950));
  EXPECT_LE(mostBlocks, before + 4) << "blocks held during 100 calls back";
  EXPECT_EQ(host.allocator.outstanding(), before);
}

TEST_F(WorksheetTest, SessionStaysTheSameSize) {
  run("x := [1, 2; 3, 4]");
  run("f(a) := a * x");
  auto statement = [&] {
    run("y := f(2)[1, 1] + count(1, 2)[0, 1] + heapcol(3)[1]");
    run("z := pair(y, fails(1))");
    run("nosuch + 1");
    run("[\"a\", [1; 2]; heapcol(1), 3i]");
  };
  statement();
  const size_t settled = host.allocator.outstanding();
  for (int k = 0; k < 50; ++k) statement();
  EXPECT_EQ(host.allocator.outstanding(), settled);
  EXPECT_NE(run("y").find(R"("re": 14,)"), std::string::npos) << "the variables survive";
}

TEST_F(WorksheetTest, CtrlCInterruptsTheStatementThenTheProgram) {
  sheet::installInterruptHandler(host.evaluator);
  std::raise(SIGINT);
  EXPECT_EQ(run("poll(1)"), scalar(1));
  sheet::rearmInterrupt();
  EXPECT_EQ(run("poll(1)"), scalar(0)) << "cleared after the statement";
  EXPECT_EXIT(
      {
        std::raise(SIGINT);
        std::raise(SIGINT);
      },
      ::testing::ExitedWithCode(130), "");
  std::signal(SIGINT, SIG_DFL);
}

TEST_F(WorksheetTest, CtrlCStopsTheCallsBack) {
  run("f(i, j) := ctrlc(i)");
  ctrlcCalls = 0;
  EXPECT_EQ(run("apply(f)"), "host error: t:1: interrupted");
  EXPECT_EQ(ctrlcCalls, 31) << "no body is evaluated after the press";
  EXPECT_EQ(run("1 + 1"), scalar(2)) << "the next statement runs";
}

TEST_F(WorksheetTest, KnowsTheNamesAStatementCanUse) {
  run("x := 1");
  run("f(a) := a");
  const std::vector<std::string> names = worksheet.names();
  for (const char* name : {"x", "f", "TOL", "ORIGIN", "sqrt", "pair", "apply"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

class WorksheetWithoutInverse : public WorksheetTest {
 protected:
  WorksheetWithoutInverse() : WorksheetTest(nullptr) {}
};

TEST_F(WorksheetWithoutInverse, RefusesTheInverseOperator) {
  EXPECT_EQ(run("[2]^-1"), "host error: t:1: the inverse M^-1 is not available in this pack");
}

}  // namespace
