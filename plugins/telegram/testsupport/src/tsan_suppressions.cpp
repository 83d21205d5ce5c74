// ThreadSanitizer reads this when it starts. The Debian build of cpp-httplib
// is not instrumented: its worker threads hand requests over through
// uninstrumented atomics, which ThreadSanitizer cannot see, so the string
// comparisons it makes inside the library are reported as races. The library
// serves only the tests' Bot API stand-in; every line of ours stays checked.

extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcpp-httplib.so\n";
}
