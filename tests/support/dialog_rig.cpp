// SPDX-License-Identifier: MIT
#include "support/dialog_rig.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "text/utf8.h"

namespace korvel::testing {

DialogRig::DialogRig() {
    // The clock reads 2024-03-05 07:08:09 local time unless a test moves it.
    clock.local = LocalTime{2024, 3, 5, 7, 8, 9};
    clock.now = 1709622489;
    link.m_hNotifyWnd = ImmediatePost();
    link.m_reopenPause = std::chrono::milliseconds(0);
}

DialogRig::~DialogRig() {
    if (!upload_dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(upload_dir_, ec);
    }
}

void DialogRig::Init() {
    EXPECT_TRUE(dlg.OnInitDialog());
    upload_dir_ = MakeTempDir("korvel-rig");
    if (upload_dir_.empty()) {
        ADD_FAILURE() << "no temporary folder for the record files";
        return;
    }
    dlg.m_strUploadDir = Utf8ToWide(upload_dir_);
}

void DialogRig::Reply(std::initializer_list<std::u16string_view> lines) {
    for (std::u16string_view line : lines) dlg.OnReplyLine(std::u16string(line));
}

void DialogRig::Pick(int combo, int index) {
    window.ComboSelect(combo, index);
    dlg.Dispatch(Message{Msg::Command, combo, Notify::SelChange});
}

void DialogRig::SetProfile(std::string_view key, int value) {
    window.Profile()["Settings/" + std::string(key)] = value;
}

int DialogRig::Profile(std::string_view key) { return window.GetProfileInt("Settings", key, -9999); }

}  // namespace korvel::testing
