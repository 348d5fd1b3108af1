// SPDX-License-Identifier: Apache-2.0
// RequestOutput: passes the gathered requests on to their ops.
#include "DDImage/RequestOutput.h"

#include "DDImage/Iop.h"

namespace DD {
namespace Image {

void RequestOutput::doRequest() {
    for (const RequestData& data : requests_)
        if (data.getOp())
            data.getOp()->request(data.getBox(), data.getChannels(), data.getCount());
}

}  // namespace Image
}  // namespace DD
