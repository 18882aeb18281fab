// SPDX-License-Identifier: MIT
// A small reader of the XML the tool writes (elements, attributes, text, the five entities), so that a
// test can name each field by its path: "Task/Principals/Principal/UserId", "Task/@version".
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvel::testing {

// Every element's text (trimmed of surrounding white space) and every attribute's value, by path, in
// document order; the declaration (<?xml ...?>) is skipped. Empty when the document is not well formed
// (a tag not closed in order, an unknown entity, text outside the root).
std::vector<std::pair<std::string, std::string>> XmlFields(std::string_view xml);

}  // namespace korvel::testing
