// SPDX-License-Identifier: MIT
// The dialog's window for the command line: the loop-driven window, with message boxes on stderr.
#pragma once

#include <string>
#include <string_view>

#include "ui/loop_window.h"

namespace korvel::cli {

class CliWindow : public LoopWindow {
  public:
    using LoopWindow::LoopWindow;

    void MessageBox(std::u16string_view text) override;
};

}  // namespace korvel::cli
