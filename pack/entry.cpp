#include "pack/entry.h"

heap::Array<Anyval*> gatherArguments(int count, std::va_list list) {
  const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
  heap::Array<Anyval*> values(n);
  if (!values) return values;
  for (size_t k = 0; k < n; ++k) values[k] = va_arg(list, Anyval*);
  return values;
}
