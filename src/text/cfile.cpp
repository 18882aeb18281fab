// SPDX-License-Identifier: MIT
#include "text/cfile.h"

namespace korvel {

CFile::~CFile() { Close(); }

bool CFile::Fail(const char* what) {
    m_lastError = LastSystemFailure(std::string(what) + " " + m_strPath);
    return false;
}

}  // namespace korvel
