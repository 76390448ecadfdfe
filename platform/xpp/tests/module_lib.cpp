// A library with an INIT and an EXIT procedure, loaded by the tests through
// LoadModule.
#include "xpp/runtime.h"

extern "C" {
__attribute__((visibility("default"))) int xpp_test_module_inits = 0;
}

namespace {
const bool declared = (xpp::DeclareModule("TESTLIB", [] { ++xpp_test_module_inits; }, [] {}), true);
}
