// SPDX-License-Identifier: Apache-2.0
// Application: what the host application is running as.
#pragma once

namespace DD {
namespace Image {
namespace Application {

//! True with the host's interface, false in a terminal (batch) session.
bool IsGUIActive();
//! Changes this library's copy of the flag.
void SetGUIActive(bool lActive);
const char* GetProductName();
void SetProductName(const char* name);

}  // namespace Application
}  // namespace Image
}  // namespace DD
