// SPDX-License-Identifier: MIT
#include "engine_download.h"

#include "support/live_dialog.h"
#include "ui/controls.h"

namespace korvel::testing {

std::string EngineDownload(const std::string& port, const std::string& folder) {
    LiveDialog live(port, folder, LiveDialog::Heartbeat::EverySecond);
    if (!live.Init() || !live.RunUntil([&] { return live.Open(); }, std::chrono::seconds(10))) return {};
    if (!live.ReadInfo(1) || !live.window.Visible(IDC_READ_DATA)) return {};
    return live.Download() ? live.FilePath() : std::string();
}

}  // namespace korvel::testing
