// Every effects test runs with the scale tables built, as the show has them before its parts.
#include "synthetic.h"

namespace {
[[maybe_unused]] ::testing::Environment* const scaleTables =
    ::testing::AddGlobalTestEnvironment(new ScaleTables);
}
