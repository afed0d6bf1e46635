// Linked into every program of a sanitized build only. The program treats an
// allocation that cannot be met as a null block and says so itself; with
// this, AddressSanitizer's allocator returns null there too instead of ending
// the process, and its leak checker runs at every exit.
// The name is AddressSanitizer's own.
extern "C" const char *__asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
  return "allocator_may_return_null=1:detect_leaks=1";
}
