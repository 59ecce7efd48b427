// lookup, hlookup, vlookup and match, called through the table as a host calls them.
#include <cmath>
#include <string>
#include <vector>

#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;
using Failure = sheet::Allocator::Failure;

class Lookup : public PackTest {
 protected:
  // A matrix of strings, nested as the host marks string tables unless told otherwise.
  Anyval* strings(std::initializer_list<std::initializer_list<const char*>> rows,
                  bool nested = true) {
    aMatrix* m = host.allocator.matrix(int(rows.size()), int(rows.begin()->size()), true, false);
    int i = 0;
    for (auto row : rows) {
      int j = 0;
      for (const char* text : row) putString(m, i, j++, text);
      ++i;
    }
    if (nested) m->flags |= aMatrix::kNested;
    return asValue(m);
  }
  void putString(aMatrix* m, int i, int j, const char* text) {
    realPart(m)(i, j) = embedded::make(asValue(host.allocator.string(text)));
  }
};

// A real column with these values. Columns of found elements carry both part arrays.
void expectColumn(const Anyval* result, std::vector<double> expected, bool bothParts = true) {
  ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
  const aMatrix* m = as<aMatrix>(result);
  ASSERT_EQ(m->cols, 1);
  ASSERT_EQ(m->rows, int(expected.size()));
  EXPECT_EQ(m->im != nullptr, bothParts);
  for (int i = 0; i < m->rows; ++i) {
    EXPECT_EQ(testsupport::re(result, i, 0), expected[i]) << "row " << i;
    EXPECT_EQ(testsupport::im(result, i, 0), 0.0) << "row " << i;
  }
}

// A nested column of string elements with these texts.
void expectStrings(const Anyval* result, std::vector<std::string> expected) {
  ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
  const aMatrix* m = as<aMatrix>(result);
  EXPECT_TRUE(m->nested());
  ASSERT_EQ(m->rows, int(expected.size()));
  for (int i = 0; i < m->rows; ++i) {
    ASSERT_TRUE(embedded::is(m->re[i]));
    ASSERT_EQ(embedded::target(m->re[i])->tag, kTagString);
    EXPECT_EQ(as<aString>(embedded::target(m->re[i]))->text, expected[i]);
  }
}

// A nested column of real [row; column] vectors.
void expectPlaces(const Anyval* result, std::vector<std::vector<double>> expected) {
  ASSERT_EQ(result->tag, kTagMatrix) << testsupport::messageOf(result);
  const aMatrix* m = as<aMatrix>(result);
  EXPECT_TRUE(m->nested());
  ASSERT_EQ(m->rows, int(expected.size()));
  for (int i = 0; i < m->rows; ++i) {
    ASSERT_TRUE(embedded::is(m->re[i]));
    expectColumn(embedded::target(m->re[i]), expected[i], false);
  }
}

TEST_F(Lookup, KeysMatchWithinToleranceOrByExactText) {
  Anyval* numbers = values.value({{1.5}, {2}, {2.5}, {2.6}, {1.4}});
  const struct {
    double tol;
    Anyval* key;
    Anyval* a;
    std::vector<double> expected;
  } cases[] = {
      {0, values.scalar(2), numbers, {1}},
      {0.5, values.scalar(2), numbers, {0, 1, 2}},
      {0.5, values.scalar(2, 0.5), numbers, {1}},
      {0.0001, values.scalar(1, 1), values.value({{1}, {1}}, {{1.0001}, {0.9998}}), {0}},
      {1, values.scalar(0, 2), values.value({}, {{1}, {2}, {3.5}}), {0, 1}},
      {1, values.string("Ab"), strings({{"ab"}, {"Ab"}, {"Ab "}, {"Ab"}}), {1, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    setTol(c.tol);
    expectColumn(call("match", {c.key, c.a}), c.expected, false);
  }
}

TEST_F(Lookup, MatchCountsPlacesFromOriginInColumnMajorOrder) {
  setTol(0);
  for (double origin : {0.0, 1.0, -1.9}) {
    setOrigin(origin);
    const double o = std::trunc(origin);
    expectColumn(call("match", {values.scalar(3), values.value({{1}, {3}, {5}, {3}})}),
                 {1 + o, 3 + o}, false);
    expectPlaces(call("match", {values.scalar(2), values.value({{1, 2}, {2, 4}}, {}, 3)}),
                 {{1 + o, 0 + o}, {0 + o, 1 + o}});
    expectPlaces(call("match", {values.scalar(1), values.value({{1, 2, 1}})}),
                 {{0 + o, 0 + o}, {0 + o, 2 + o}});
    expectPlaces(call("match", {values.string("b"), strings({{"a", "b"}})}), {{0 + o, 1 + o}});
  }
}

TEST_F(Lookup, LookupTakesTheSourceElementsAtTheMatchingPlaces) {
  setTol(0);
  expectColumn(call("lookup", {values.scalar(2), values.value({{2, 1}, {2, 3}}, {}, 4),
                               values.value({{10, 20, 0}, {30, 40, 0}, {0, 0, 0}}, {}, 5)}),
               {10, 30});
  Anyval* words = strings({{"ab", "Ab"}});
  expectStrings(call("lookup", {values.string("Ab"), words, strings({{"w", "x"}})}), {"x"});
}

TEST_F(Lookup, LineLookupsSearchTheFirstLineAndPickTheIndexFromOrigin) {
  setTol(0);
  Anyval* tall = values.value({{1, 10}, {3, 30}, {3, 31}});
  Anyval* wide = values.value({{1, 3, 3}, {10, 30, 31}, {3, 0, 0}});
  const struct {
    const char* function;
    Anyval* a;
    double index, origin;
    std::vector<double> expected;
  } cases[] = {
      {"vlookup", tall, 1, 0.5, {30, 31}}, {"vlookup", tall, 2, 1, {30, 31}},
      {"vlookup", tall, -5, -6, {30, 31}}, {"vlookup", tall, 0, 0, {3, 3}},
      {"hlookup", wide, 1, 0, {30, 31}},   {"hlookup", wide, 2, 1, {30, 31}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.function) + " " + std::to_string(c.index));
    setOrigin(c.origin);
    expectColumn(call(c.function, {values.scalar(3), c.a, values.scalar(c.index)}), c.expected);
  }
  // Strings off the searched line neither stop a numeric search nor stop being strings.
  setOrigin(0);
  aMatrix* table = values.matrix({{1, 2, 1}, {0, 0, 0}});
  putString(table, 1, 0, "one");
  putString(table, 1, 2, "three");
  table->flags |= aMatrix::kNested;
  expectStrings(call("hlookup", {values.scalar(1), asValue(table), values.scalar(1)}),
                {"one", "three"});
  Anyval* names = strings({{"x", "p"}, {"y", "q"}, {"x", "r"}});
  expectStrings(call("vlookup", {values.string("x"), names, values.scalar(1)}), {"p", "r"});
}

// For both line lookups; tests/sheets/lookup_lines.sheet has the other indices hlookup refuses.
TEST_F(Lookup, IndexMustBeAWholeNumberInsideTheTable) {
  setOrigin(0);
  Anyval* a = values.value({{1, 3}, {3, 4}});
  const struct {
    Anyval* index;
    const char* message;  // null: taken as 1
  } cases[] = {
      {values.scalar(1 + 1e-11), nullptr},
      {values.string("1"), "int"},
      {values.scalar(-1 - 1e-11), "index out of bounds"},
      {values.scalar(-2147483648.0), "index out of bounds"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    for (const char* function : {"hlookup", "vlookup"}) {
      Anyval* result = call(function, {values.scalar(1), a, c.index});
      if (c.message) {
        EXPECT_ERROR(result, c.message, 0, 3);
      } else {
        expectColumn(result, {3});
      }
    }
  }
}

// What a worksheet cannot write: a string table without the nested flag, empty tables.
// The golden sheets check the other errors and their positions.
TEST_F(Lookup, ErrorsOfTablesAWorksheetCannotWrite) {
  setOrigin(0);
  Anyval* words = strings({{"a", "b"}, {"c", "d"}});
  Anyval* one = values.scalar(1);
  Anyval* empty = asValue(host.allocator.matrix(0, 3, true, false));
  const struct {
    const char* function;
    std::vector<Anyval*> args;
    const char* message;
    int position;
  } cases[] = {
      {"lookup", {values.string("a"), strings({{"a"}}, false), words}, "matrix[string]", 2},
      {"hlookup", {one, empty, values.scalar(0)}, "index out of bounds", 3},
      {"vlookup", {one, empty, values.scalar(0)}, "no match", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.function) + ": " + c.message);
    EXPECT_ERROR(call(c.function, c.args), c.message, 0, c.position);
  }
}

TEST_F(Lookup, FailedHostAllocationsBecomeErrorValues) {
  Anyval* a = values.value({{1, 1}, {1, 1}});
  const std::pair<const char*, std::vector<Anyval*>> calls[] = {
      {"lookup", {values.scalar(1), a, a}},
      {"hlookup", {values.scalar(1), a, values.scalar(0)}},
      {"match", {values.scalar(1), a}},
      {"match", {values.scalar(1), values.value({{1}})}},
  };
  for (const auto& [function, args] : calls) {
    SCOPED_TRACE(function);
    host.allocator.failNth(1, Failure::kNullBlock);
    EXPECT_EQ(call(function, args), asValue(sError_OutOfMemory));
    host.allocator.failNth(1, Failure::kNegativeResult);
    EXPECT_ERROR(call(function, args), "gc: memory allocation failed", 0, 0);
  }
  // When not even the error can be built (its message, then its record), the host's value.
  for (long n : {1, 2}) {
    host.allocator.failNth(n, Failure::kNegativeResult);
    Anyval* result = pack.call(pack.find("hlookup"), &host.context,
                               std::vector{values.scalar(1), a, values.scalar(0.5)},
                               {values.scalar(0), values.scalar(0)});
    EXPECT_EQ(result, asValue(sError_OutOfMemory)) << "block " << n;
  }
  host.allocator.failNth(0, Failure::kNullBlock);
}

}  // namespace
