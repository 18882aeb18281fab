// SPDX-License-Identifier: MIT
// The settings store of the Windows programs: one DWORD value per key under
// HKEY_CURRENT_USER\Software\Local AppWizard-Generated Applications\<application>\<section>, so the
// remembered choices of an existing installation under that name are taken over.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

class RegistryProfile {
  public:
    // application: the name the settings are kept under (the program's file name without ".exe").
    explicit RegistryProfile(std::u16string application);

    // The stored value, or default_value when there is none or it is not a DWORD.
    int GetInt(std::string_view section, std::string_view key, int default_value) const;
    // Stored at once; false when the registry refused it.
    bool WriteInt(std::string_view section, std::string_view key, int value);

    // The key of section, below HKEY_CURRENT_USER.
    std::u16string SectionKey(std::string_view section) const;

  private:
    std::u16string application_;
};

// The running program's file name without its folder and without ".exe".
std::u16string ProgramName();

}  // namespace korvel
