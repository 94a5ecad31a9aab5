// Linked into every fuzzer. The font library keeps what it allocates for fonts it has looked up
// until the process ends; that is not a leak of ours, and a long run must not fail on it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
