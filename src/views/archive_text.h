// SPDX-License-Identifier: MIT
// The archive check as text: per device its records, first and newest record, gaps, clock set-backs,
// conflicts and damaged lines, and the verdict over the folder. Device and file text is shown plain.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/archive.h"

namespace korvel {

struct ArchiveTextOptions {
    // Seconds since 1970 UTC: with it, each device also gets the records its ring probably holds that no
    // file has (as if it kept recording since its newest saved record) and a verdict line of its own.
    std::optional<int64_t> now;
    // The archive was read from a database (its folder is the database's name), not from a folder.
    bool database = false;
};

std::string ArchiveCheckText(const Archive& archive, const ArchiveTextOptions& options = {});

// The same check for the window's 检查记录…, in Chinese and laid out for a narrow window: the folder
// and the verdict over it first, then per device its verdict first and what it rests on, each time and
// file name on a line of its own. now: as ArchiveTextOptions::now.
std::string ArchiveCheckTextZh(const Archive& archive, int64_t now, bool database = false);

// Why a line is damaged, in Chinese (records/record_texts.h); named is the number of the file's name.
std::string DamageReasonZh(const DamagedLine& line, uint32_t named);

// What keeps the device's records from being known whole ("2 gaps, 1 damaged line"); empty when
// nothing does.
std::string IncompleteText(const DeviceArchive& device);

// The device whose files carry the number that a product field as the device writes it names ("0123"
// is 123); nullptr when none does.
const DeviceArchive* FindByProductField(const Archive& archive, std::string_view product);

// The ring's estimate for the device, told from its newest saved record, the device's clock (seconds of
// the time "info" read, see ParseClockTime) and its record count; nothing when the folder holds no record
// of it or the clock reads earlier than that record. The oldest pending record goes on the device's
// clock's DateText(device_clock + seconds_left).
std::optional<PendingRecords> DevicePending(const DeviceArchive& device, int64_t device_clock, int count);

}  // namespace korvel
