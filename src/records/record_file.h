// SPDX-License-Identifier: MIT
// Record files and the upload folder they live in.
#pragma once

#include <string>

namespace korvel {

// The folder that receives the record files of this user; resolved once when the dialog starts.
std::u16string ResolveUploadFolder();

}  // namespace korvel
