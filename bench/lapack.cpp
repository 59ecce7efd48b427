#include "bench/lapack.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {

const std::string kLibraries = std::string("/usr/lib/") + MATPACK_LIBRARY_ARCHITECTURE + "/";

void* load(const std::string& path, int flags) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | flags);
  if (!handle) {
    std::fprintf(stderr,
                 "matpack_bench: cannot load %s: %s (scripts/install-deps.sh installs it)\n",
                 path.c_str(), dlerror());
    std::exit(1);
  }
  return handle;
}

// The file a symbol of `handle` was found in.
std::string fileOf(void* handle, const char* name) {
  Dl_info info;
  void* address = dlsym(handle, name);
  if (!address || dladdr(address, &info) == 0) return "?";
  return info.dli_fname;
}

}  // namespace

void* Lapack::symbol(const char* name) const {
  void* address = dlsym(handle_, name);
  if (!address) {
    std::fprintf(stderr, "matpack_bench: %s has no routine %s\n", heading_.c_str(), name);
    std::exit(1);
  }
  return address;
}

Lapack Lapack::reference() {
  // The reference BLAS first: the reference LAPACK's own dependency on libblas.so.3 then
  // finds it already loaded, whichever BLAS the system's alternatives point at.
  load(kLibraries + "blas/libblas.so.3", 0);
  Lapack lapack("reference LAPACK", load(kLibraries + "lapack/liblapack.so.3", 0));
  lapack.description_ = "dgetrf_ from " + fileOf(lapack.handle_, "dgetrf_") + ", dgemm_ from " +
                        fileOf(lapack.handle_, "dgemm_") + ", 1 thread";
  return lapack;
}

Lapack Lapack::openblas() {
  // Its own symbols first, so nothing loaded before stands in for them.
  Lapack lapack("OpenBLAS 1 thread",
                load(kLibraries + "openblas-pthread/libopenblas.so.0", RTLD_DEEPBIND));
  lapack.routine<void(int)>("openblas_set_num_threads")(1);
  const int threads = lapack.routine<int()>("openblas_get_num_threads")();
  const char* config = lapack.routine<const char*()>("openblas_get_config")();
  lapack.description_ = "dgetrf_ from " + fileOf(lapack.handle_, "dgetrf_") + " (" + config +
                        "), " + std::to_string(threads) + " thread" + (threads == 1 ? "" : "s");
  return lapack;
}

}  // namespace bench
