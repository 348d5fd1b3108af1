// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
void Tweenora::_open() { PlanarIop::_open(); }
}  // namespace tweenora
