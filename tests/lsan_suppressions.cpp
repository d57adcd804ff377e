// Leaks the leak checker should not report in the tests. fontconfig, which PLplot's cairo
// drivers use to find the font of the pictures' text, keeps its configuration and font caches
// for the life of the process and never frees them; they are allocated once, not per picture.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
