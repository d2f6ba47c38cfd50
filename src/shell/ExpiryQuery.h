#pragma once

namespace veltrin::shell {

class MainWindowView;

// The expiry label's worker: queries the account typed in the window and shows the outcome on the
// label and the note above it.
void runExpiryQuery(MainWindowView& window);

}  // namespace veltrin::shell
