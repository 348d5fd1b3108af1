// SPDX-License-Identifier: Apache-2.0
// Application: this library's copy of what the host runs as (a terminal session by default).
#include "DDImage/Application.h"

#include <atomic>
#include <mutex>
#include <string>

namespace DD {
namespace Image {
namespace Application {
namespace {

std::atomic<bool> guiActive{false};

struct ProductName {
    std::mutex mutex;
    std::string text;
};

ProductName& productName() {
    static ProductName name;
    return name;
}

}  // namespace

bool IsGUIActive() {
    return guiActive;
}

void SetGUIActive(bool lActive) {
    guiActive = lActive;
}

const char* GetProductName() {
    ProductName& name = productName();
    std::lock_guard<std::mutex> lock(name.mutex);
    return name.text.c_str();
}

void SetProductName(const char* name) {
    ProductName& product = productName();
    std::lock_guard<std::mutex> lock(product.mutex);
    product.text = name ? name : "";
}

}  // namespace Application
}  // namespace Image
}  // namespace DD
