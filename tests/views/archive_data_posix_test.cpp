// SPDX-License-Identifier: MIT
// The export of files whose names hold double quotes, which the CSV must double. POSIX only: Windows
// names cannot hold quotes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/record_lines.h"
#include "support/temp_folder.h"
#include "views/archive_data.h"

namespace korvel::testing {
namespace {

TEST(ArchiveExport, CsvDoublesTheQuotesOfAFileName) {
    TempFolder folder;
    folder.Write("a\"b\"/240305-010000-123-7b.txt", RecordLine(0));
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    std::ostringstream csv;
    WriteRecordsCsv(archive, archive.devices[0], {0}, csv);
    EXPECT_EQ(csv.str(),
              "time,value,product,file\r\n"
              "2024-01-31T08:00:00+08:00,0,0123,\"a\"\"b\"\"/240305-010000-123-7b.txt\"\r\n");
}

}  // namespace
}  // namespace korvel::testing
