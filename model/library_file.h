// SPDX-License-Identifier: Apache-2.0
// Checks a shared library file before the system loader maps it.
#pragma once

#include <string>

namespace tweenora::model {

//! Why the shared library at path must not be handed to the system loader, or
//! "" when it may be. The loader maps every segment the file's program headers
//! declare and touches them while it relocates: a file cut short (an
//! interrupted copy) kills the process with SIGBUS instead of failing the
//! load. So a file whose ELF header, program headers, segments or section
//! header table reach past its end is refused here, with a text naming the
//! sizes. Anything that is not a complete ELF header of this process's word
//! size (an empty file, random bytes) is left to the loader, which refuses it
//! with its own message. Always "" where the system has no ELF loader.
std::string incompleteLibraryReason(const std::string& path);

}  // namespace tweenora::model
