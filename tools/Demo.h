// File: Demo.h
//
// `kx9label demo`: on the standard series and then on the X series, makes a
// project file with the sample project (new, then the sample saved into
// it), shows it, exports it, imports the export into a new project file and
// exports that again. The last two lines tell whether each second export
// equals the first, byte for byte.
#pragma once

#include <ostream>
#include <string>

namespace kx9tool {

// Writes the project files and envelopes into `keepDir` (created when
// missing), or with an empty `keepDir` into a temporary directory that is
// removed on every way out. Returns 0 when both round trips reproduced
// their export, 1 otherwise.
int RunDemo(std::ostream& out, const std::string& keepDir);

}  // namespace kx9tool
