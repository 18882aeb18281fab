// SPDX-License-Identifier: MIT
// Hands a file or a folder to the desktop: a page opens in the browser, a folder in the file manager.
#pragma once

#include <string>

#include "text/failure.h"

namespace korvel {

// The environment variable that names a program to hand the path to instead of the desktop's own
// opener (one argument: the path). For sites with a fixed viewer, and for the tests.
inline constexpr char kOpenWithVariable[] = "KORVEL_OPEN_WITH";

// Kind None when the desktop took it, else why not in the message. Blocks for up to a few seconds while
// the opener's own failures can still come, so windows call it off their user-interface thread. One file
// per OS.
Failure OpenInDesktop(const std::string& path);

}  // namespace korvel
