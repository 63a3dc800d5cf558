#pragma once

#include "utils/logging.h"

namespace vantisol::fuzz {

// Warnings about bad input are the expected outcome here: millions of them would only slow the
// run down.
inline void QuietLogging() {
  static const bool done = [] {
    el::Configurations quiet;
    quiet.setToDefault();
    quiet.setGlobally(el::ConfigurationType::Enabled, "false");
    el::Loggers::reconfigureAllLoggers(quiet);
    return true;
  }();
  (void)done;
}

}  // namespace vantisol::fuzz
