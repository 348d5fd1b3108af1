// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
int Tweenora::knob_changed(DD::Image::Knob*) { return 1; }
void Tweenora::updateImagePatches() {}
}  // namespace tweenora
