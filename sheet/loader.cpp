#include "sheet/loader.h"

#include <array>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace sheet {

namespace {

using Entry = const void*;
using Dispatch = Anyval* (*)(Entry, UfnCallContext*, Anyval* const*);

template <size_t... I>
Anyval* callFixed(Entry entry, UfnCallContext* ctx, Anyval* const* args) {
  using Fn = Anyval* (*)(UfnCallContext*, decltype((void)I, static_cast<Anyval*>(nullptr))...);
  return reinterpret_cast<Fn>(const_cast<void*>(entry))(ctx, args[I]...);
}

template <size_t... I>
Anyval* callCounted(Entry entry, UfnCallContext* ctx, Anyval* const* args) {
  using Fn = Anyval* (*)(UfnCallContext*, int, ...);
  return reinterpret_cast<Fn>(const_cast<void*>(entry))(ctx, static_cast<int>(sizeof...(I)),
                                                        args[I]...);
}

// One caller per argument count, for fixed and for counted entries.
template <size_t... N>
constexpr auto fixedCallers(std::index_sequence<N...>) {
  return std::array<Dispatch, sizeof...(N)>{
      []<size_t... I>(std::index_sequence<I...>)->Dispatch{return &callFixed<I...>;
}
(std::make_index_sequence<N>())...
};  // namespace
}  // namespace sheet

template <size_t... N>
constexpr auto countedCallers(std::index_sequence<N...>) {
  return std::array<Dispatch, sizeof...(N)>{
      []<size_t... I>(std::index_sequence<I...>)->Dispatch{return &callCounted<I...>;
}
(std::make_index_sequence<N>())...
}
;
}

constexpr auto kFixedCallers =
    fixedCallers(std::make_index_sequence<PackLibrary::kMaxArguments + 1>());
constexpr auto kCountedCallers =
    countedCallers(std::make_index_sequence<PackLibrary::kMaxArguments + 1>());

std::string text(const sString* s) {
  return s && s->text ? s->text : "";
}

// The names of the system variables a dependency list appends.
std::vector<std::string> appendedNames(const sCons* list) {
  std::vector<std::string> names;
  for (const sCons* cell = list; cell; cell = cell->cdr) {
    const auto* identifier = static_cast<const sIdentifier*>(cell->car);
    names.push_back(identifier ? text(identifier->name) : "?");
  }
  return names;
}

void* openLibrary(const std::string& path, std::string* error) {
#if defined(_WIN32)
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) *error = "cannot load " + path;
  return reinterpret_cast<void*>(module);
#else
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) *error = dlerror();
  return handle;
#endif
}

void* findSymbol(void* handle, const char* name) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
  return dlsym(handle, name);
#endif
}

void closeLibrary(void* handle) {
#if defined(_WIN32)
  FreeLibrary(static_cast<HMODULE>(handle));
#else
  dlclose(handle);
#endif
}

}  // namespace

PackLibrary PackLibrary::open(const std::string& path) {
  std::string error;
  PackLibrary pack;
  pack.handle_ = openLibrary(path, &error);
  if (!pack.handle_) throw std::runtime_error(error);
  const auto* count = static_cast<const int32_t*>(findSymbol(pack.handle_, "numFuncs"));
  pack.table_ = static_cast<const sFunctionDescriptor*>(findSymbol(pack.handle_, "theUfn"));
  pack.register_ =
      reinterpret_cast<HRESULT(WS_STDCALL*)()>(findSymbol(pack.handle_, "DllRegisterServer"));
  pack.unregister_ =
      reinterpret_cast<HRESULT(WS_STDCALL*)()>(findSymbol(pack.handle_, "DllUnregisterServer"));
  if (!count || !pack.table_ || !pack.register_ || !pack.unregister_) {
    throw std::runtime_error(path +
                             " is not a function pack: it lacks theUfn, numFuncs or the "
                             "registration functions");
  }
  pack.count_ = *count;
  return pack;
}

PackLibrary PackLibrary::linked(const sFunctionDescriptor* table, int32_t count,
                                HRESULT(WS_STDCALL* registerPack)(),
                                HRESULT(WS_STDCALL* unregisterPack)()) {
  PackLibrary pack;
  pack.table_ = table;
  pack.count_ = count;
  pack.register_ = registerPack;
  pack.unregister_ = unregisterPack;
  return pack;
}

std::string PackLibrary::defaultPath() {
#if defined(_WIN32)
  char buffer[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  std::string self(buffer, n);
  return self.substr(0, self.find_last_of("\\/") + 1) + "..\\lib\\matpack.dll";
#else
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  std::string self = n > 0 ? std::string(buffer, size_t(n)) : std::string("./matsheet");
  return self.substr(0, self.find_last_of('/') + 1) + "../lib/libmatpack.so";
#endif
}

PackLibrary::PackLibrary(PackLibrary&& other) noexcept {
  *this = std::move(other);
}

PackLibrary& PackLibrary::operator=(PackLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_) closeLibrary(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    table_ = other.table_;
    count_ = other.count_;
    register_ = other.register_;
    unregister_ = other.unregister_;
  }
  return *this;
}

PackLibrary::~PackLibrary() {
  if (handle_) closeLibrary(handle_);
}

HRESULT PackLibrary::registerPack() const {
  return register_();
}

HRESULT PackLibrary::unregisterPack() const {
  return unregister_();
}

RowInfo PackLibrary::row(int index) const {
  const sFunctionDescriptor& d = table_[index];
  RowInfo info;
  info.index = index;
  info.name = text(d.name);
  info.appended = appendedNames(d.dependencies);
  const int32_t taken = d.signature ? d.signature->arguments : 0;
  info.arguments = taken == sFunctionInfo::kVariadic
                       ? RowInfo::kVariadic
                       : taken - static_cast<int>(info.appended.size());
  info.kind = d.kind;
  info.unitRule = text(d.unitRule);
  info.available = d.entry != nullptr;
  return info;
}

int PackLibrary::find(std::string_view name) const {
  for (int i = 0; i < count_; ++i) {
    if (table_[i].name && table_[i].name->text && name == table_[i].name->text) return i;
  }
  return -1;
}

void* PackLibrary::symbol(const char* name) const {
  return handle_ ? findSymbol(handle_, name) : nullptr;
}

Anyval* PackLibrary::call(int index, UfnCallContext* ctx, std::span<Anyval* const> args,
                          const SystemVariables& system) const {
  const RowInfo info = row(index);
  if (!info.available) throw CallError(info.name + " is not available in this pack yet");
  const bool counted = info.arguments == RowInfo::kVariadic;
  if (!counted && static_cast<int>(args.size()) != info.arguments) {
    throw CallError(info.name + " takes " + std::to_string(info.arguments) + " argument" +
                    (info.arguments == 1 ? "" : "s") + ", not " + std::to_string(args.size()));
  }
  std::vector<Anyval*> full(args.begin(), args.end());
  for (const std::string& name : info.appended) {
    full.push_back(name == "TOL" ? system.tol : system.origin);
  }
  if (full.size() > kMaxArguments) {
    throw CallError(info.name + " called with more than " + std::to_string(kMaxArguments) +
                    " arguments");
  }
  const Dispatch caller = counted ? kCountedCallers[full.size()] : kFixedCallers[full.size()];
  return caller(descriptor(index).entry, ctx, full.data());
}

}  // namespace sheet
