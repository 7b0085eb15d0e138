// Leak reports the sanitizer build must not fail on, in the test programs
// that write HEIC files (testsupport/PictureWriters.h): libheif 1.15's x265
// encoder plugin leaves one x265 block of about a kilobyte behind for every
// picture it encodes. Only the tests encode HEIC; the program decodes it
// through libde265, which stays fully checked, as does our own code.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
