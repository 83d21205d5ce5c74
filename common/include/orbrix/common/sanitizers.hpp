#pragma once

// Whether this build runs under AddressSanitizer or ThreadSanitizer (g++
// and clang tell it differently). Their allocators keep their own books and
// ASan keeps freed memory aside, and both run several times slower: tests
// that weigh memory or count allocations skip those checks there.

namespace orbrix {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif

}  // namespace orbrix
