// SPDX-License-Identifier: MIT
#include "protocol/line_assembler.h"

namespace korvel {

void LineAssembler::AssembleLines(const uint8_t*, int, LineSink&) {}
void LineAssembler::HandleLine(LineSink&) {}

}  // namespace korvel
