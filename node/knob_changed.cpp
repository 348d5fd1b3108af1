// SPDX-License-Identifier: Apache-2.0
// Tweenora: the panel's reactions to knob changes and its live image-patch count.
#include "node/Tweenora.h"

#include <algorithm>
#include <cmath>
#include <string>

#include <spdlog/spdlog.h>

#include <DDImage/Iop.h>
#include <DDImage/Knob.h>
#include <DDImage/TextKnobI.h>

using namespace DD::Image;

namespace tweenora {

namespace {

// The panel's own patch count along one axis. Unlike the renderer's grid it
// keeps counting patches when the effective overlap is 0 and ignores padding:
// it describes input 0's box, not the area a render processes.
int patchesAlong(int extent, int maxSize, int overlap) {
    const int effectiveOverlap =
        static_cast<int>(std::max(0.0, std::min(maxSize / 2.5, static_cast<double>(overlap))));
    int tile = std::min(maxSize, extent);
    if (maxSize < extent)
        tile -= effectiveOverlap;
    if (tile <= 0)
        return 1;
    return static_cast<int>(std::ceil(static_cast<double>(extent) / tile));
}

void setVisible(Op& op, const char* name, bool visible) {
    if (Knob* knob = op.knob(name))
        knob->visible(visible);
}

void setEnabled(Op& op, const char* name, bool enabled) {
    if (Knob* knob = op.knob(name))
        enabled ? knob->enable() : knob->disable();
}

}  // namespace

int Tweenora::knob_changed(Knob* k) {
    spdlog::debug("Tweenora::knob_changed called");
    spdlog::debug("[Tweenora::knob_changed] knob_changed called on: {}", k->name());

    // Speed mode shows speed, frame mode the animated source frame.
    const auto showTimingKnobs = [this] {
        setVisible(*this, "speed", mode == 0);
        setVisible(*this, "output_frame", mode != 0);
    };
    const auto enableGpuOnlyKnobs = [this](bool enabled) {
        setEnabled(*this, "mixed_precision", enabled);
        setEnabled(*this, "gpu_render_override", enabled);
    };

    if (k == &Knob::showPanel) {
        resolveInputRange();
        updateImagePatches();
        showTimingKnobs();
        enableGpuOnlyKnobs(use_gpu);
    }

    const std::string& name = k->name();
    if (name == "mode") {
        showTimingKnobs();
        invalidate();
    } else if (name == "cuda_deviceid") {
        // The next _open moves the module to the newly selected device.
        probeGpu(/*fromKnobs=*/false);
    } else if (name == "use_gpu") {
        enableGpuOnlyKnobs(k->get_value(0) != 0.0);  // NaN counts as on
        model_loaded = false;
        invalidate();
    } else if (name == "mixed_precision") {
        model_loaded = false;
        invalidate();
    } else if (name == "max_size" || name == "overlap") {
        updateImagePatches();
        invalidate();
    } else if (name == "speed" || name == "frame_range_start" || name == "frame_range_end") {
        invalidate();
    }
    return 1;
}

void Tweenora::updateImagePatches() {
    auto* text = dynamic_cast<Text_KnobI*>(knob("image_patches"));
    if (!text)
        return;
    Iop* source = input(0);
    if (!source)
        return;  // no dimensions to count with
    source->validate(true);
    const Box& box = source->info().box();
    const int width = box.r() - box.x();
    const int height = box.t() - box.y();
    const int columns = patchesAlong(width, max_size, overlap);
    const int rows = patchesAlong(height, max_size, overlap);
    std::string patches = "Image patches: " + std::to_string(columns * rows) + " (" +
                          std::to_string(columns) + " x " + std::to_string(rows) + ")";
    text->text(patches);
}

}  // namespace tweenora
