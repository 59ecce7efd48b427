// matrix(m, n, f): the evaluator protocol and the order and number of calls, which part
// arrays the result gets, the size checks in their order, and what f's failures become.
#include <functional>

#include "tests/array/matrix_checks.h"

namespace {

using testsupport::isMatrix;

class MatrixFn : public testsupport::PackTest {
 protected:
  // A function value computing f(i, j) that notes where it was called and what it gave.
  Anyval* function(std::function<Anyval*(double i, double j)> f, uint32_t tag = kTagFunction2) {
    auto noting = [this, f](std::span<Anyval* const> args) {
      calledAt.emplace_back(as<aComplex>(args[0])->re, as<aComplex>(args[1])->re);
      produced.push_back(f(calledAt.back().first, calledAt.back().second));
      return produced.back();
    };
    return values.function(noting, tag);
  }

  // matrix(m, n, f); nothing may be left behind but the result and what f gave, which
  // belongs to the host.
  Anyval* tabulate(Anyval* m, Anyval* n, Anyval* f) {
    calledAt.clear();
    host.evaluator.clearCalls();
    const uint64_t before = host.allocator.historyPoint();
    Anyval* result = pack.call(pack.find("matrix"), &host.context, std::vector{m, n, f}, {});
    host.allocator.adopt(result);
    std::vector<Anyval*> roots = produced;
    roots.insert(roots.end(), {m, n, f, result});
    EXPECT_TRUE(host.allocator.unreachable(roots, before).empty());
    return result;
  }
  Anyval* tabulate(double m, double n, Anyval* f) {
    return tabulate(values.scalar(m), values.scalar(n), f);
  }
  Anyval* error(const char* message) {
    return asValue(aError::mk(host.allocator.com(), message, 0, 7, nullptr, nullptr));
  }

  std::vector<std::pair<double, double>> calledAt;
  std::vector<Anyval*> produced;
  Anyval* sum = function([this](double i, double j) { return values.scalar(i + j); });
};

TEST_F(MatrixFn, CallsFOncePerElementAfterATrialCall) {
  EXPECT_TRUE(isMatrix(tabulate(2, 3, sum), {{0, 1, 2}, {1, 2, 3}}));
  const std::vector<std::pair<double, double>> order = {{0, 0}, {0, 0}, {0, 1}, {0, 2},
                                                        {1, 0}, {1, 1}, {1, 2}};
  EXPECT_EQ(calledAt, order);
  std::vector<int> slots;
  for (size_t k = 0; k < order.size(); ++k) slots.insert(slots.end(), {4, 5, 3, 7});
  EXPECT_EQ(host.evaluator.calls(), slots);

  Anyval* complex =
      function([this](double i, double j) { return values.scalar(i, i * j); }, kTagFunction);
  EXPECT_TRUE(isMatrix(tabulate(2, 2, complex), {{0, 0}, {1, 1}}, {{0, 0}, {0, 1}}));
  EXPECT_EQ(as<aMatrix>(tabulate(3.00000000001, 1, sum))->rows, 3);
  EXPECT_EQ(as<aMatrix>(tabulate(2.99999999999, 1, sum))->rows, 2);
}

TEST_F(MatrixFn, ArgumentsAreCheckedInOrderBeforeFIsCalled) {
  const struct {
    Anyval *m, *n, *f;
    const char* message;
    int position;
  } cases[] = {
      {values.value({{2}}), values.string("x"), sum, "non-scalar value", 1},
      {values.scalar(2), values.string("x"), sum, "non-scalar value", 2},
      {values.scalar(2), values.scalar(2), values.scalar(1), "must be function", 3},
      {values.scalar(0, 1), values.scalar(0, 1), sum, "must be real", 1},
      {values.scalar(2), values.scalar(2, 1), sum, "must be real", 2},
      {values.scalar(0), values.scalar(0), sum, "must be positive", 1},
      {values.scalar(3), values.scalar(0), sum, "incorrect column dimensions", 2},
      {values.scalar(2.5), values.scalar(2.5), sum, "must be integer", 1},
      {values.scalar(8000001), values.scalar(2.5), sum, "size too large", 1},
      {values.scalar(3), values.scalar(2.5), sum, "must be integer", 2},
      {values.scalar(1), values.scalar(8000001), sum, "size too large", 2},
      {values.scalar(3000), values.scalar(3000), sum, "size too large", 0},
  };
  for (const auto& c : cases) {
    EXPECT_ERROR(tabulate(c.m, c.n, c.f), c.message, 0, c.position);
    EXPECT_TRUE(calledAt.empty());
  }
}

TEST_F(MatrixFn, WhatFailuresOfFBecome) {
  EXPECT_ERROR(tabulate(2, 2, function([this](double, double) { return error("f failed"); })),
               "f failed", 0, 3);
  EXPECT_EQ(calledAt.size(), 1u);

  Anyval* failsLater = function(
      [this](double i, double j) { return i == 1 && j == 0 ? error("late") : values.scalar(1); });
  const Anyval* late = tabulate(2, 2, failsLater);
  EXPECT_EQ(late, produced.back()) << "f's own error comes back";
  EXPECT_EQ(calledAt.size(), 4u);

  Anyval* givesMatrix = function([this](double, double) { return values.value({{1}}); });
  EXPECT_ERROR(tabulate(2, 2, givesMatrix), "non-scalar value", 0, 3);
  Anyval* stringLater =
      function([this](double i, double) { return i == 0 ? values.scalar(1) : values.string("s"); });
  EXPECT_ERROR(tabulate(2, 2, stringLater), "non-scalar value", 0, 3);
}

}  // namespace
