// SPDX-License-Identifier: MIT
#include "support/paths.h"

namespace korvel::testing {

std::string SimulatorPath() { return KORVEL_SIM_PATH; }

std::string VectorsDir() { return KORVEL_VECTORS_DIR; }

std::string BinaryDir() { return KORVEL_BINARY_DIR; }

}  // namespace korvel::testing
