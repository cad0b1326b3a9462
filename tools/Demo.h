// File: Demo.h
//
// `kx9label demo`: builds a sample project in the reference database, shows
// it, and runs export -> decode -> import into a fresh project -> export on
// the standard series and then on the X series. The last two lines tell
// whether each second export equals the first, byte for byte.
#pragma once

#include <ostream>
#include <string>

namespace kx9tool {

// Writes the envelopes into `keepDir` (created when missing), or with an
// empty `keepDir` into a temporary directory that is removed on every way
// out. Returns 0 when both round trips reproduced their export, 1 otherwise.
int RunDemo(std::ostream& out, const std::string& keepDir);

}  // namespace kx9tool
