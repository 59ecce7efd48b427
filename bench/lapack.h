// The LAPACK libraries the pack is timed against, both in one process: Debian's reference
// LAPACK over the reference BLAS, and OpenBLAS held to one thread. Each is loaded on its own
// from its Debian path, so neither one's routines stand in for the other's, and the
// benchmark itself links neither.
#pragma once

#include <string>

namespace bench {

class Lapack {
 public:
  // The libraries; the program stops with a message when one is missing.
  static Lapack reference();
  static Lapack openblas();

  // The table's column heading: "reference LAPACK" or "OpenBLAS 1 thread".
  const std::string& heading() const { return heading_; }
  // What was loaded, from where, and with how many threads.
  const std::string& description() const { return description_; }

  // A routine by its Fortran name ("dgesv_"), as a pointer to the function type F; the
  // program stops when the library lacks it.
  template <class F>
  F* routine(const char* name) const {
    return reinterpret_cast<F*>(symbol(name));
  }

 private:
  Lapack(std::string heading, void* handle) : heading_(std::move(heading)), handle_(handle) {}
  void* symbol(const char* name) const;

  std::string heading_;
  std::string description_;
  void* handle_;
};

}  // namespace bench
