// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace korvel::testing {

std::string SimulatorPath();  // the korvel-sim built with the tests
std::string VectorsDir();     // the independent test vectors
std::string BinaryDir();      // the build folder

}  // namespace korvel::testing
