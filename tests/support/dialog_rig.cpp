// SPDX-License-Identifier: MIT
#include "support/dialog_rig.h"

namespace korvel::testing {

DialogRig::DialogRig() {
    // The clock reads 2024-03-05 07:08:09 local time unless a test moves it.
    clock.local = LocalTime{2024, 3, 5, 7, 8, 9};
    clock.now = 1709622489;
    link.m_hNotifyWnd = ImmediatePost();
}

void DialogRig::Reply(std::initializer_list<std::u16string_view> lines) {
    for (std::u16string_view line : lines) dlg.OnReplyLine(std::u16string(line));
}

void DialogRig::SetProfile(std::string_view key, int value) {
    window.Profile()["Settings/" + std::string(key)] = value;
}

}  // namespace korvel::testing
