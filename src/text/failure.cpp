// SPDX-License-Identifier: MIT
#include "text/failure.h"

#include <cerrno>

namespace korvel {

FailureKind KindOfError(int code) {
    switch (code) {
        case 0:
            return FailureKind::None;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return FailureKind::Absent;
        case EACCES:
        case EPERM:
            return FailureKind::PermissionDenied;
        case EBUSY:
            return FailureKind::Busy;
        default:
            return FailureKind::Other;
    }
}

}  // namespace korvel
