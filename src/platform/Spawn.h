#pragma once

#include <optional>
#include <string>
#include <vector>

namespace veltrin::platform {

// Starts a program (looked up in PATH when its name has no slash) with no input and its output
// thrown away, and returns at once; the child is reaped in the background. False when it could
// not be started.
bool startDetached(const std::vector<std::string>& argv);

// Runs a program to its end and returns what it wrote to standard output; nothing when it could
// not be started.
std::optional<std::string> runForOutput(const std::vector<std::string>& argv);

}  // namespace veltrin::platform
