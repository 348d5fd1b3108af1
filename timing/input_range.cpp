// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
void Tweenora::_validate(bool) { copy_info(); }
void Tweenora::resolveInputRange() {}
std::pair<int32_t, int32_t> Tweenora::getKeyframeRange() { return {-1, -1}; }
}  // namespace tweenora
