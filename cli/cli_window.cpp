// SPDX-License-Identifier: MIT
#include "cli_window.h"

#include <cstdio>
#include <iostream>

#include "text/utf8.h"

namespace korvel::cli {

void CliWindow::MessageBox(std::u16string_view text) {
    LoopWindow::MessageBox(text);
    std::cerr << "korvel-cli: " << PlainText(text) << '\n';
}

std::string PlainText(std::u16string_view text) {
    std::string out;
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const bool control = i < text.size() && (text[i] < 0x20 || (text[i] >= 0x7F && text[i] <= 0x9F));
        if (i < text.size() && !control) continue;
        out += WideToUtf8(text.substr(start, i - start));
        if (control) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(text[i]));
            out += escaped;
        }
        start = i + 1;
    }
    return out;
}

}  // namespace korvel::cli
