// SPDX-License-Identifier: MIT
#include <unistd.h>

#include <climits>

#include "platform/host_name.h"
#include "text/shown.h"

namespace korvel {

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) return "unknown";
    return Shown(name);
}

}  // namespace korvel
