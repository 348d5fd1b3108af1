// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
void Tweenora::knobs(DD::Image::Knob_Callback) {}
}  // namespace tweenora
