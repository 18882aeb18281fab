// SPDX-License-Identifier: MIT
#include "records/record_file.h"

namespace korvel {

// Placeholder until the record files land: no upload folder yet.
std::u16string ResolveUploadFolder() { return {}; }

}  // namespace korvel
