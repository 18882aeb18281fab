// SPDX-License-Identifier: MIT
// How text bound for standard output and standard error is cut and shaped before it goes to the system:
// the pieces the Windows console writer needs, kept free of Windows calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvel::cli {

// The length of the longest start of bytes that does not end inside a UTF-8 sequence: what can be
// converted now, the rest waiting for the bytes that complete it. Bytes that can never be completed
// (a stray continuation byte, an invalid lead) count as complete, so they are converted, not held.
size_t CompleteUtf8Length(std::string_view bytes);

// Text as a Windows text file carries it: every LF that does not already follow a CR gets one. The
// CR may have ended the piece before; after_cr carries that from piece to piece.
std::string WithCarriageReturns(std::string_view text, bool& after_cr);

// The console cells the UTF-8 text takes: two for an East Asian wide character (Chinese, Japanese,
// Korean, full-width forms), none for a control character, one for the rest.
size_t ConsoleColumns(std::string_view text);

// What erases a progress line of `columns` cells and puts the cursor at its start, for a console that
// knows no escape sequences: spaces over it, at most a line of 79.
std::string BlankedLine(size_t columns);

}  // namespace korvel::cli
