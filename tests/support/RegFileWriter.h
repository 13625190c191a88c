// Writes .reg export files as regedit does: "Windows Registry Editor Version
// 5.00" in UTF-16LE with a byte-order mark, or "REGEDIT4" in Windows-1252,
// CR LF line ends, long hex lists continued over lines ending in '\'.
// Key paths are full ("HKEY_CURRENT_USER\Software\X"); consecutive entries
// of the same key share one [key] section. Texts are UTF-8.
//
//   RegFileWriter w;
//   w.setString("HKEY_CURRENT_USER\\Software\\X", "Path", "C:\\A \"quoted\" name");
//   w.setExpandString("HKEY_CURRENT_USER\\Software\\X", "Temp", "%USERPROFILE%\\Temp");
//   w.writeTo(dir + "/x.reg");
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oriel::test {

class RegFileWriter {
public:
    enum class Format { Regedit4, Version5 };
    explicit RegFileWriter(Format format = Format::Version5);

    RegFileWriter& addKey(const std::string& keyPath);
    RegFileWriter& deleteKey(const std::string& keyPath);
    // An empty name is the key's default value ("@").
    RegFileWriter& setString(const std::string& keyPath, const std::string& name, const std::string& text);
    RegFileWriter& setDword(const std::string& keyPath, const std::string& name, uint32_t value);
    RegFileWriter& setExpandString(const std::string& keyPath, const std::string& name, const std::string& text);
    RegFileWriter& setMultiString(const std::string& keyPath, const std::string& name,
                                  const std::vector<std::string>& texts);
    // "hex:" for type 3 (REG_BINARY), "hex(N):" for the others.
    RegFileWriter& setHex(const std::string& keyPath, const std::string& name, uint32_t type, const std::string& data);
    RegFileWriter& deleteValue(const std::string& keyPath, const std::string& name);
    RegFileWriter& comment(const std::string& text);
    // A line written as it stands (for damaged files).
    RegFileWriter& rawLine(const std::string& line);

    // The file's bytes: header, then the lines, encoded for the format.
    std::string bytes() const;
    void writeTo(const std::string& path) const;

    // The text of the lines (UTF-8, CR LF) before encoding.
    const std::string& text() const { return text_; }

    // Registry data of a string in this format: UTF-16LE (version 5) or
    // Windows-1252 (REGEDIT4), with the terminating NUL.
    std::string StringData(const std::string& text) const;

    static std::string Escape(const std::string& text);

private:
    void section(const std::string& keyPath);
    void valueLine(const std::string& name, const std::string& data);
    void hexLine(const std::string& name, const std::string& prefix, const std::string& data);

    Format format_;
    std::string text_;
    std::string current_;
    bool inSection_ = false;
};

} // namespace oriel::test
