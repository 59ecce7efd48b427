// Calling conventions and symbol export shared by the host interfaces, ufnutils and the pack.
//
// The host is a 32-bit Windows program: its COM-style interfaces use the callee-pops
// convention, everything else the C convention. On x86-64 there is only one convention.
#pragma once

#include <cstdint>

#if defined(__i386__) || defined(_M_IX86)
#define WS_STDCALL __attribute__((stdcall))
#else
#define WS_STDCALL
#endif

#if defined(_WIN32)
#define WS_EXPORT __declspec(dllexport)
#define WS_IMPORT __declspec(dllimport)
#else
#define WS_EXPORT __attribute__((visibility("default")))
#define WS_IMPORT
#endif

// ufnutils is imported by name; only its own build exports the symbols.
#if defined(UFNUTILS_BUILD)
#define UFNUTILS_API WS_EXPORT
#else
#define UFNUTILS_API WS_IMPORT
#endif

// The pack exports its records and its directly callable routines.
#define MATPACK_API WS_EXPORT

// The host's status code: negative means failure.
#if defined(_WIN32)
typedef long HRESULT;
#else
typedef int32_t HRESULT;
#endif

inline constexpr HRESULT kHrOk = 0;
// "Class not registered": unregistering an identifier that was never registered.
inline constexpr HRESULT kHrNotRegistered = static_cast<HRESULT>(0x80040154u);
