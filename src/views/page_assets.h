// SPDX-License-Identifier: MIT
// What the pages carry inline, built into the library from their files (see the top CMakeLists.txt): the
// plotting library from its npm package, the pages' own scripts and styles from src/views/pages.
#pragma once

#include <string_view>

namespace korvel {

std::string_view UplotScript();
std::string_view UplotStyle();

// What the pages share: the font, the margins, the heading.
std::string_view PageStyle();
// The report's tables and tools; the script that draws its plots (SECTIONS stands for their list).
std::string_view ReportStyle();
std::string_view ReportScript();
// The fleet's table and its rows needing attention; the script that sorts the table by a column.
std::string_view FleetStyle();
std::string_view FleetScript();

}  // namespace korvel
