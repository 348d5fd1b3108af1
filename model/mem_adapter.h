// SPDX-License-Identifier: Apache-2.0
// MemAdapter: lets libtorch read a TorchScript archive straight from borrowed memory.
#pragma once

#include <cstddef>
#include <cstdint>

// The adapter's base class; a small header of libtorch with no tensor types in it.
#include <caffe2/serialize/read_adapter_interface.h>

namespace tweenora::model {

//! Serves reads from a byte block that somebody else owns and keeps alive for
//! at least as long as the adapter (the model library's embedded archive). The
//! block is never copied or freed.
class MemAdapter : public caffe2::serialize::ReadAdapterInterface {
public:
    MemAdapter(const void* data, uint64_t size);

    size_t size() const override;
    //! Copies min(n, size - pos) bytes from pos into buf and returns that count;
    //! 0 when pos is at or beyond the end. what is ignored.
    size_t read(uint64_t pos, void* buf, size_t n, const char* what = "") const override;

private:
    const unsigned char* data_;
    uint64_t size_;
};

}  // namespace tweenora::model
