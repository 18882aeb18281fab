// SPDX-License-Identifier: MIT
// Reading and writing whole files, listing folders and splitting text into lines, as the tests check
// what the tools wrote.
#pragma once

#include <string>
#include <vector>

#include "text/failure.h"

namespace korvel::testing {

std::string ReadFile(const std::string& path);  // empty when it cannot be read
void WriteFile(const std::string& path, const std::string& bytes);
// Names of the regular files directly in a folder, sorted, the ledger of downloads (korvel.ledger, which
// every download adds) aside; none when it cannot be read.
std::vector<std::string> ListFiles(const std::string& folder);
// The lines of a text without their LF; a last line without one counts too.
std::vector<std::string> Lines(const std::string& text);
// Writes bytes through the tool's own safe output (whole or not at all); false with error filled.
bool WriteWhole(const std::string& path, const std::string& bytes, Failure* error);

}  // namespace korvel::testing
