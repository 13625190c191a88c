// Read access to the registry of the examined Windows system: one text value
// by key path and name, and the ordered subkey names of a key.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace oriel::platform {

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine };

class RegistryReader {
public:
    virtual ~RegistryReader() = default;

    // REG_SZ values only. Returns the value's size in bytes (its text plus the
    // terminating NUL, as the registry stores it) and sets `out` to the text
    // as UTF-8; returns -1 and leaves `out` as it was on any failure.
    virtual int QueryString(RootKey root, std::string_view keyPath, std::string_view valueName,
                            std::string& out) const = 0;

    // Appends the subkey names of the key in enumeration order; a key that
    // cannot be opened leaves the list as it was. Returns false then.
    virtual bool EnumSubkeys(RootKey root, std::string_view keyPath,
                             std::vector<std::string>& out) const = 0;
};

// A registry that holds nothing: every query fails.
class NullRegistryReader final : public RegistryReader {
public:
    int QueryString(RootKey, std::string_view, std::string_view, std::string&) const override { return -1; }
    bool EnumSubkeys(RootKey, std::string_view, std::vector<std::string>&) const override { return false; }
};

// The non-empty components of a key path: "A\B\\C\" gives A, B and C.
std::vector<std::string_view> SplitKeyPath(std::string_view path);

} // namespace oriel::platform
