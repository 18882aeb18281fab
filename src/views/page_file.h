// SPDX-License-Identifier: MIT
// A page written whole where no other user can have prepared its name, then handed to the desktop's
// browser: korvel-cli's report --open and fleet --open, the windows' 速度报告, overview and guide.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/failure.h"

namespace korvel {

// How many pages the windows' pages folder keeps: older ones go as new ones are written.
inline constexpr size_t kPagesKept = 10;

struct PageFile {
    std::string path;
    size_t keep = 0;  // once the page is written, its folder keeps only its newest `keep` pages (0: all)
};

// `name` in a new folder of the temporary folder that only this user may enter, named after the command
// ("korvel-report-XXXXXX/NAME"): korvel-cli's --open without --output. Nothing, with *error, when no
// such folder can be made.
std::optional<PageFile> NewFolderPage(std::string_view command, std::string_view name, Failure* error);

// `name` in this user's pages folder ("korvel-pages" in the temporary folder, see OpenUserFolder), with
// "-YYYYMMDD-hhmmss.html" (the time written, by the UTC clock) after it when dated; the folder keeps its
// newest kPagesKept pages: the windows. Nothing, with *error, when the folder cannot be had.
std::optional<PageFile> PagesFolderPage(std::string_view name, bool dated, Failure* error);

struct PageOpened {
    Failure not_written;  // why the page is not there: the system's words
    Failure not_opened;   // why no browser took it; the page is there
    std::string opened;   // the absolute path the browser was given (the path itself when none can be made)
};

// Writes the page to file.path whole or not at all, then hands it to the desktop's browser; blocks as
// OpenInDesktop does (platform/open_in_desktop.h).
PageOpened WriteAndOpenPage(const PageFile& file, std::string_view page);

}  // namespace korvel
