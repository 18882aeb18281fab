// SPDX-License-Identifier: MIT
#include "cli_window.h"

#include <iostream>

#include "text/shown.h"

namespace korvel::cli {

void CliWindow::MessageBox(std::u16string_view text) {
    LoopWindow::MessageBox(text);
    std::cerr << "korvel-cli: " << Shown(text) << '\n';
}

}  // namespace korvel::cli
