#include "tests/support/pack_test.h"

namespace testsupport {

PackTest::PackTest()
    : pack(sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer)),
      tol_(values.scalar(0.001)),
      origin_(values.scalar(0.0)) {}

Anyval* PackTest::call(const char* name, std::vector<Anyval*> args) {
  const int row = pack.find(name);
  EXPECT_GE(row, 0) << name;
  if (row < 0) return nullptr;
  std::vector<Anyval*> passed = args;
  passed.insert(passed.end(), {tol_, origin_});
  const CallOutcome outcome =
      checkedCall(host, {passed, static_cast<int>(args.size())}, [&](UfnCallContext* ctx) {
        return pack.call(row, ctx, args, {tol_, origin_});
      });
  EXPECT_TRUE(outcome.ok()) << name << ":\n" << outcome.report();
  return outcome.result;
}

}  // namespace testsupport
