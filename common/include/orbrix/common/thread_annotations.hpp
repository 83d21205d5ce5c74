#pragma once

// Clang thread-safety analysis attributes; empty on other compilers.
#if defined(__clang__)
#define ORBRIX_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ORBRIX_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) ORBRIX_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY ORBRIX_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) ORBRIX_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ORBRIX_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) ORBRIX_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ORBRIX_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ORBRIX_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ORBRIX_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) ORBRIX_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) ORBRIX_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) ORBRIX_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS ORBRIX_THREAD_ANNOTATION(no_thread_safety_analysis)
