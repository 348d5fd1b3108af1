// SPDX-License-Identifier: Apache-2.0
// MemAdapter: reads of a TorchScript archive served from borrowed memory.
#include "model/mem_adapter.h"

#include <algorithm>
#include <cstring>

namespace tweenora::model {

MemAdapter::MemAdapter(const void* data, uint64_t size)
    : data_(static_cast<const unsigned char*>(data)), size_(size) {}

size_t MemAdapter::size() const {
    return static_cast<size_t>(size_);
}

size_t MemAdapter::read(uint64_t pos, void* buf, size_t n, const char* /*what*/) const {
    if (pos >= size_)
        return 0;
    const uint64_t count = std::min<uint64_t>(n, size_ - pos);
    if (count > 0)
        std::memcpy(buf, data_ + pos, static_cast<size_t>(count));
    return static_cast<size_t>(count);
}

}  // namespace tweenora::model
