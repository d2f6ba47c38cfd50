#pragma once

#include "workflows/View.h"

namespace veltrin::shell {

// The current-IP button: skips the second echo page, then looks the address up on a worker and
// reports it in the status line (tinted) and the results box.
void startCurrentIpQuery(workflows::View& view);

}  // namespace veltrin::shell
