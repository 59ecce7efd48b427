// The argument checker: the first failing check in the order written is reported, with the
// position of the argument it is about or the pair blame() gave it, and nothing after a
// failure is evaluated.
#include "pack/checks.h"
#include "tests/support/pack_test.h"

namespace {

using testsupport::PackTest;

class Checks : public PackTest {};

TEST_F(Checks, ReportTheFirstFailureWithItsPositionPair) {
  UfnCallContext* ctx = &host.context;
  Anyval* square = values.value({{1, 2}, {3, 4}});
  Anyval* row = values.value({{1, 2, 3}}, {{0, 0, 1}});
  Anyval* text = values.string("x");
  const struct {
    const char* what;
    Require checks;
    const char* message;  // null: every check passes
    int first, position;
  } cases[] = {
      {"all pass", Require(ctx, square, 1).matrix().square().real().notNested(), nullptr, 0, 0},
      {"kind", Require(ctx, text, 2).matrix().square(), "must be array", 0, 2},
      {"own message", Require(ctx, text, 1).matrix(msg::kMustBeVector), "must be vector", 0, 1},
      {"order written", Require(ctx, row, 1).real().square(), "must be real", 0, 1},
      {"next argument", Require(ctx, square, 1).square().next(row, 3).square(), "must be square", 0,
       3},
      {"blame", Require(ctx, row, 1).blame(2, 0).vector(), "must be vector", 2, 0},
      {"blame applies once",
       Require(ctx, square, 1).blame(2, 0).square().real().next(row, 2).real(), "must be real", 0,
       2},
      {"condition", Require(ctx, square, 4).that([] { return false; }, "size too large"),
       "size too large", 0, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Anyval* error = c.checks.error();
    if (!c.message) {
      EXPECT_EQ(error, nullptr);
      continue;
    }
    EXPECT_TRUE(c.checks.failed());
    EXPECT_ERROR(error, c.message, c.first, c.position);
  }
}

TEST_F(Checks, SkipEverythingAfterAFailure) {
  bool evaluated = false;
  Anyval* text = values.string("x");
  // Were square() to run on the string, it would read past its record.
  Require checks = Require(&host.context, text, 1)
                       .matrix()
                       .square()
                       .that([&] { return evaluated = true; }, "never");
  EXPECT_FALSE(evaluated);
  EXPECT_ERROR(checks.error(), "must be array", 0, 1);
}

}  // namespace
