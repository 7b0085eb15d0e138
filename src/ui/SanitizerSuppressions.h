#pragma once
// Leak reports the sanitizer build must not fail on: memory that Qt's
// platform plugins, fontconfig and the X and D-Bus client libraries allocate
// once per process and keep until exit by design. Our own code stays fully
// checked. Include in exactly one file of each program that shows windows.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libQt6XcbQpa.so\n"
         "leak:libqxcb.so\n"
         "leak:libqoffscreen.so\n"
         "leak:libxcb.so\n"
         "leak:libX11.so\n"
         "leak:libdbus-1.so\n"
         "leak:libglib-2.0.so\n";
}
