// Our stand-in for GetPrivateProfileStringA and GetPrivateProfileIntA: the
// reading of one INI file (Firefox's profiles.ini, Opera's OperaDef6.ini)
// with the values and defaults those calls give.
//
// Section and key names compare without regard to case; blanks around keys
// and values are dropped, and so is one pair of quotes around a value. The
// first section of a name and the first key of a name in it count. Lines
// end in LF or CR LF; a UTF-8 byte-order mark at the start is skipped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel::platform {

class IniFile {
public:
    IniFile() = default;
    // Parses INI text.
    explicit IniFile(std::string_view text);

    // Reads a file (a host path, found without regard to case). False when
    // it cannot be read; the object then holds no sections, so every read
    // gives its default, as the Windows calls do for a missing file.
    bool Load(const std::string& path);

    // The value of `key` in `section`, at most `maxLength` bytes (a 256-byte
    // buffer holds 255); `defaultValue` when the section or key is missing.
    std::string GetString(std::string_view section, std::string_view key, std::string_view defaultValue,
                          size_t maxLength = 255) const;
    // The value as a decimal integer (an optional sign, then digits; 0 for
    // text that starts otherwise); `defaultValue` when missing.
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> values;
    };
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    void Parse(std::string_view text);

    std::vector<Section> sections_;
};

} // namespace oriel::platform
