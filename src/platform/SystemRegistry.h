// The registry of the examined Windows system, composed of its hives and of
// .reg exports:
//   HKEY_LOCAL_MACHINE\Software is the SOFTWARE hive's root (other keys of
//   HKEY_LOCAL_MACHINE exist only where a .reg file supplies them);
//   HKEY_CURRENT_USER is the root of the user's NTUSER.DAT;
//   HKEY_CLASSES_ROOT is HKCU\Software\Classes over HKLM\Software\Classes.
// .reg files win over the hives and a later .reg file over an earlier one;
// a key or value that a .reg file deletes hides the hive's.
#pragma once

#include "platform/RegistryReader.h"

#include <memory>
#include <string>
#include <vector>

namespace oriel::platform {

struct RegistrySources {
    std::string softwareHive;          // host path of Windows/System32/config/SOFTWARE, or empty
    std::string userHive;              // host path of the user's NTUSER.DAT, or empty
    std::vector<std::string> regFiles; // .reg exports, in order
};

// Opens every source named; each one that is missing or unreadable adds one
// warning to `warnings` and is left out, the rest are still used. Never
// returns null.
std::shared_ptr<RegistryReader> OpenSystemRegistry(const RegistrySources& sources,
                                                   std::vector<std::string>* warnings = nullptr);

} // namespace oriel::platform
