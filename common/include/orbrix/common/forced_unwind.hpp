#pragma once

// The exception glibc throws to unwind a thread that is being ended
// (pthread_exit, or Python ending a thread that takes the GIL while the
// interpreter finalizes). A handler that catches everything must rethrow it:
// swallowing it aborts the process ("FATAL: exception not rethrown"). Write
//
//   } catch (const ForcedUnwind&) {
//     throw;
//   } catch (...) {
//
// Where the C++ library has no such exception, ForcedUnwind is a type that
// is never thrown, so the clause is inert.

#if defined(__GLIBCXX__) && !defined(_WIN32)
#include <cxxabi.h>
#endif

namespace orbrix {

#if defined(__GLIBCXX__) && !defined(_WIN32)
using ForcedUnwind = abi::__forced_unwind;
#else
struct ForcedUnwind {};
#endif

}  // namespace orbrix
