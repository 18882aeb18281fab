// SPDX-License-Identifier: MIT
#include "text/cfile.h"

#include <cerrno>

namespace korvel {

CFile::~CFile() { Close(); }

bool CFile::Fail(const char* what, Failure* error) const {
    if (error) *error = LastSystemFailure(std::string(what) + " " + m_strPath);
    return false;
}

bool CFile::NotRegular(Failure* error) {
    if (error) {
        *error = {FailureKind::Other, "cannot open " + m_strPath + ": not a regular file", EINVAL,
                  "not a regular file"};
    }
    Close();
    return false;
}

}  // namespace korvel
