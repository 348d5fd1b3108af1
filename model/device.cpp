// PLACEHOLDER: to be written by the folder's owner
#include "node/Tweenora.h"
namespace tweenora {
std::pair<c10::Device, bool> Tweenora::selectDevice(DeviceCaller) const { return {c10::Device(c10::kCPU), false}; }
GpuProbe Tweenora::probeGpu(bool) { return {}; }
}  // namespace tweenora
