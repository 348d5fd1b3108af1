// PLACEHOLDER: to be written by its owner
#include "cli/commands.h"
namespace tweenora::cli {
int runKnobs(const Args&) { return kExitUsage; }
int runInfo(const Args&) { return kExitUsage; }
}  // namespace tweenora::cli
