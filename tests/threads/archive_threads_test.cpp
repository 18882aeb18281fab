// SPDX-License-Identifier: MIT
// The archive reads its files on several threads ahead of an ordered merge (run under ThreadSanitizer
// in CI); the result must be that of reading them one by one.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "archive/archive.h"
#include "protocol/checked_line.h"
#include "support/temp_folder.h"

namespace korvel::testing {
namespace {

TEST(ArchiveThreads, ManyFilesMergeInDownloadOrder) {
    TempFolder folder;
    // 300 incremental downloads of 20 records each, every one repeating the one before's last record;
    // more files than the readers may run ahead, so they wait for the merge.
    constexpr int kFiles = 300, kLines = 20;
    for (int f = 0; f < kFiles; ++f) {
        std::string bytes;
        for (int i = 0; i < kLines; ++i) {
            const int seq = f * (kLines - 1) + i;
            const int s = seq * 121;
            char text[64];
            std::snprintf(text, sizeof text, "2024-%02d-%02d %02d:%02d:%02d+08:00 %d 0123",
                          3 + s / 86400 / 28, 1 + s / 86400 % 28, s / 3600 % 24, s / 60 % 60, s % 60, seq);
            bytes += WithChecksum(text) + "\n";
        }
        char name[64];
        std::snprintf(name, sizeof name, "2403%02d-%02d%02d00-123-7b.txt", 1 + f / 24 % 28, f % 24, f / 672);
        folder.Write(name, bytes);
    }
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    const DeviceArchive& d = archive.devices[0];
    EXPECT_EQ(d.files.size(), size_t{kFiles});
    EXPECT_EQ(d.valid_lines, size_t{kFiles * kLines});
    ASSERT_EQ(d.records.size(), size_t{kFiles * (kLines - 1) + 1});
    for (size_t i = 0; i < d.records.size(); ++i) ASSERT_EQ(d.records[i].value, static_cast<int32_t>(i));
    EXPECT_TRUE(d.Complete());
}

}  // namespace
}  // namespace korvel::testing
