// SPDX-License-Identifier: MIT
// The report: one HTML file with everything inline (script, style, data), so it opens anywhere, offline.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/archive.h"

namespace korvel {

struct ReportOptions {
    std::optional<double> limit;  // the permitted value the page starts with: its line and its periods
    int64_t now = 0;              // seconds since 1970 UTC, for the pending estimate of the overview
    bool database = false;        // the archive was read from a database, which its folder names
};

// One device's page.
std::string MakeReportPage(const Archive& archive, const DeviceArchive& device,
                           const ReportOptions& options = {});
// Every device of the archive: a row each that links to the device's own section with its plot.
std::string MakeOverviewPage(const Archive& archive, const ReportOptions& options);

// Text from a file, a device, a database or a computer as page text: shown (text/shown.h), never markup.
std::string HtmlText(std::string_view text);

}  // namespace korvel
