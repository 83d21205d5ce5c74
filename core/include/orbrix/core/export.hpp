#pragma once

// Symbol visibility of the shared library `security`. The library is built
// with hidden visibility; only what carries ORBRIX_SECURITY_API is exported.
// Built as a static library (the Windows build), nothing is exported.

#if defined(ORBRIX_SECURITY_STATIC)
#define ORBRIX_SECURITY_API
#elif defined(_WIN32)
#if defined(ORBRIX_SECURITY_BUILD)
#define ORBRIX_SECURITY_API __declspec(dllexport)
#else
#define ORBRIX_SECURITY_API __declspec(dllimport)
#endif
#else
#define ORBRIX_SECURITY_API __attribute__((visibility("default")))
#endif
