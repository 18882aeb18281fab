// SPDX-License-Identifier: MIT
#include "views/page_file.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/open_in_desktop.h"
#include "text/civil_time.h"
#include "text/os_path.h"
#include "text/safe_output.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// Removes the oldest pages of the folder beyond the newest `kept` (its .html files, by time written).
void Prune(const fs::path& folder, size_t kept) {
    std::error_code error;
    std::vector<std::pair<fs::file_time_type, fs::path>> pages;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() != ".html" || !it->is_regular_file(error)) continue;
        pages.emplace_back(it->last_write_time(error), it->path());
    }
    if (pages.size() <= kept) return;
    std::sort(pages.begin(), pages.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (size_t i = kept; i < pages.size(); ++i) fs::remove(pages[i].second, error);
}

}  // namespace

std::optional<PageFile> NewFolderPage(std::string_view command, std::string_view name, Failure* error) {
    std::string folder;
    if (!MakePrivateFolder("korvel-" + std::string(command) + "-", &folder, error)) return {};
    return PageFile{folder + "/" + std::string(name)};
}

std::optional<PageFile> PagesFolderPage(std::string_view name, bool dated, Failure* error) {
    std::string folder;
    if (!OpenUserFolder("korvel-pages", &folder, error)) return {};
    std::string path = folder + "/" + std::string(name);
    if (dated) {
        // The time written, by the UTC clock: "-20240305-070809".
        std::string stamp = ClockText(static_cast<int64_t>(std::time(nullptr)));
        stamp.erase(std::remove_if(stamp.begin(), stamp.end(), [](char c) { return c == '-' || c == ':'; }),
                    stamp.end());
        std::replace(stamp.begin(), stamp.end(), ' ', '-');
        path += "-" + stamp + ".html";
    }
    return PageFile{path, kPagesKept};
}

PageOpened WriteAndOpenPage(const PageFile& file, std::string_view page) {
    PageOpened result;
    SafeOutput output;
    // A failed Write is kept and told again by Commit.
    if (!output.Open(file.path, &result.not_written)) return result;
    output.Write(page);
    if (!output.Commit(&result.not_written)) return result;
    result.not_written = {};
    if (file.keep > 0) Prune(OsPath(file.path).parent_path(), file.keep);
    std::error_code error;
    const fs::path absolute = fs::absolute(OsPath(file.path), error);
    result.opened = error ? file.path : Utf8Path(absolute);
    result.not_opened = OpenInDesktop(result.opened);
    return result;
}

}  // namespace korvel
