// Read only by ThreadSanitizer builds; linked into every test program.
// - glibc keeps its time zone state under an internal lock that the sanitizer
//   cannot see, and libzip runs mktime for every entry of an archive's
//   directory, so two threads opening archives look like a race inside glibc.
// - Qt's own libraries are not instrumented: their internal threads (image
//   conversion pool, the test watchdog) synchronise in ways the sanitizer does
//   not see. Our code's races are still reported: its frames are instrumented.
extern "C" const char* __tsan_default_suppressions() {
    return "race:tzset_internal\n"
           "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Widgets.so\n"
           "race:libQt6Test.so\n";
}
