// The leak checker's suppressions for the test programs that show windows or draw (linked in
// through utils_leak_suppressions). Only system libraries that this project cannot free are named.

// Qt's platform plug-in talks to the session bus, and libdbus keeps one read buffer of that
// connection to the end of the process (no frame of this project is involved).
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
