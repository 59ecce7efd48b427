#include "tests/support/pack_test.h"

#include <cmath>
#include <limits>

namespace testsupport {

aMatrix* Values::matrix(Rows re, Rows im, int ld) {
  const Rows& shape = re.size() ? re : im;
  const int rows = static_cast<int>(shape.size());
  const int cols = rows ? static_cast<int>(shape.begin()->size()) : 0;
  aMatrix* m = allocator_.matrix(rows, cols, re.size() > 0, im.size() > 0, ld);
  auto fill = [&](PartView part, Rows values) {
    if (!part) return;
    for (int j = 0; j < cols; ++j) {
      for (int i = rows; i < m->ld; ++i) part(i, j) = std::numeric_limits<double>::quiet_NaN();
    }
    int i = 0;
    for (auto row : values) {
      int j = 0;
      for (double x : row) part(i, j++) = x;
      ++i;
    }
  };
  fill(realPart(m), re);
  fill(imagPart(m), im);
  return m;
}

Anyval* Values::value(int rows, int cols, const std::function<double(int, int)>& element) {
  aMatrix* m = allocator_.matrix(rows, cols, true, false);
  for (int j = 0; j < cols; ++j) {
    for (int i = 0; i < rows; ++i) realPart(m)(i, j) = element(i, j);
  }
  return asValue(m);
}

aMatrix* Values::column(std::initializer_list<Anyval*> elements) {
  aMatrix* m = allocator_.matrix(static_cast<int>(elements.size()), 1, true, false);
  int i = 0;
  for (Anyval* element : elements) {
    m->re[i++] = embedded::make(element);
    if (isMatrix(element)) m->flags |= aMatrix::kNested;
  }
  return m;
}

std::string messageOf(const Anyval* value) {
  if (value->tag != kTagError) return "(not an error)";
  const aString* message = as<aError>(value)->message;
  return message ? message->text : "(no message)";
}

int firstOf(const Anyval* value) {
  return static_cast<int>(as<aError>(value)->first);
}

int positionOf(const Anyval* value) {
  return static_cast<int>(as<aError>(value)->position);
}

double re(const Anyval* m, int i, int j) {
  const aMatrix* matrix = as<aMatrix>(m);
  return matrix->re ? realPart(matrix)(i, j) : 0.0;
}

double im(const Anyval* m, int i, int j) {
  const aMatrix* matrix = as<aMatrix>(m);
  return matrix->im ? imagPart(matrix)(i, j) : 0.0;
}

PackTest::PackTest()
    : pack(sheet::PackLibrary::linked(theUfn, numFuncs, DllRegisterServer, DllUnregisterServer)),
      tol_(values.scalar(0.001)),
      origin_(values.scalar(0.0)) {}

Anyval* PackTest::call(const char* name, std::vector<Anyval*> args) {
  const int row = pack.find(name);
  EXPECT_GE(row, 0) << name;
  if (row < 0) return nullptr;
  const uint64_t before = host.allocator.historyPoint();
  Anyval* result = pack.call(row, &host.context, args, {tol_, origin_});
  host.allocator.adopt(result);  // the host takes in what it is given, as matsheet does
  std::vector<Anyval*> roots = args;
  roots.push_back(result);
  roots.push_back(tol_);
  roots.push_back(origin_);
  const auto garbage = host.allocator.unreachable(roots, before);
  EXPECT_TRUE(garbage.empty()) << name << " left blocks behind:\n" << sheet::describe(garbage);
  return result;
}

}  // namespace testsupport
