// PLACEHOLDER: to be written by its owner
#include "cli/commands.h"
namespace tweenora::cli {
int runPlan(const Args&) { return kExitUsage; }
}  // namespace tweenora::cli
