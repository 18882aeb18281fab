// SPDX-License-Identifier: MIT
// The saved records as data for other programs: the archive check as one JSON object (archive --json) and
// a device's records as CSV or JSON (export). Device and value text is shown plain (text/shown.h).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace korvel {

struct ArchiveJsonOptions {
    // The permitted value: each device also lists the periods of its records above it.
    std::optional<double> limit;
    // The archive was read from a database (its folder is the database's name), not from a folder.
    bool database = false;
};

// The archive check as one JSON object, indented by two, with its line end: the folder (or database), the
// verdict, the files, per device its records, gaps, clock set-backs, damaged lines, conflicts, values
// that are no number, highest value and days, and the unreadable entries.
std::string ArchiveJson(const Archive& archive, const ArchiveJsonOptions& options = {});

// RFC 4180: a header line, CRLF line ends, fields quoted when they hold a comma, a quote or a line end.
// Columns: time (ISO 8601 with its offset), value, product, file (relative to the archive's folder).
void WriteRecordsCsv(const Archive& archive, const DeviceArchive& device, const std::vector<size_t>& order,
                     std::ostream& out);
// An array of {"time", "value", "product", "file"} objects; the value is a number when it is one.
void WriteRecordsJson(const Archive& archive, const DeviceArchive& device, const std::vector<size_t>& order,
                      std::ostream& out);

}  // namespace korvel
