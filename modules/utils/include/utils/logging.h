#pragma once

// The project's single entry to the logging library, so that every binary sees the same
// configuration macros.
#include <easylogging++.h>

// Writes one FATAL line "Check failed: [<condition>] <message>" on logger "default" when the
// condition does not hold. It never ends the process: the caller goes on as its contract says.
#define VANTISOL_CHECK(condition)     \
  if (static_cast<bool>(condition)) { \
  } else                              \
    CLOG(FATAL, "default") << "Check failed: [" #condition "] "
