#pragma once

namespace veltrin::engine {

// Waits the given (scaled) time. On the application's UI thread the window keeps handling events
// meanwhile, so a click on disconnect is handled inside the wait; on any other thread it sleeps.
void WaitPumping(int milliseconds);

}  // namespace veltrin::engine
