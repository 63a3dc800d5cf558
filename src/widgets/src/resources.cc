#include "widgets/resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares its function in the enclosing namespace, so it lives out here.
static void RegisterWidgetsQrc() { Q_INIT_RESOURCE(widgets); }

namespace vantisol {

void RegisterWidgetResources() {
  static const bool registered = [] {
    RegisterWidgetsQrc();
    return true;
  }();
  (void)registered;
}

}  // namespace vantisol
