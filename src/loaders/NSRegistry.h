// Reader of the Netscape registry file: nsreg.dat (Netscape 4.5 and later)
// and registry.dat (Mozilla, Netscape 6 and 7), where these browsers keep
// their list of user profiles.
//
// The file is a tree of 32-byte descriptors, all integers little-endian:
//   0   4  the descriptor's own offset (not used)
//   4   4  offset of the record's name; 0 = no name (the record is skipped)
//   8   2  length of the name in bytes, its NUL included
//   10  2  record type (1 = key)
//   12  4  next record on the same level; 0 = last
//   16  4  key: first subkey (0 = none); entry: size of the value buffer
//   20  4  key: first entry (0 = none); entry: offset of the value
//   24  8  not used
// The header (bytes 0 to 127, "ADdv" first) is not read; the root key's
// name "/" takes bytes 128 and 129, so its descriptor always stands at 130.
//
// The file is read by random access, one read per descriptor, name or
// value, and nothing but the root and the last matched key is kept. Every
// read is checked against the file's size: a descriptor or name that is not
// wholly in the file ends its chain, and so does a chain that comes back to
// a record it has already passed, so a cut or corrupt file can neither be
// read past its end nor hang the reader.
#pragma once

#include "platform/LogSink.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oriel {

class CNSRegistry {
public:
    static constexpr uint32_t kRootOffset = 130;
    static constexpr uint32_t kDescriptorSize = 32;

    // Trace lines go to `log` when one is given.
    explicit CNSRegistry(platform::LogSink* log = nullptr)
        : log_(log)
    {
    }
    ~CNSRegistry();
    CNSRegistry(const CNSRegistry&) = delete;
    CNSRegistry& operator=(const CNSRegistry&) = delete;

    // Opens the file (a host path) and reads the root descriptor. False when
    // the file cannot be opened or holds no whole descriptor at offset 130.
    bool Open(const std::string& path);
    // Closes the file if it is open.
    void Close();
    bool IsOpen() const { return open_; }

    // Appends the names of the direct subkeys of `keyPath` ("Users\Common\"),
    // in chain order. True when the key was found.
    bool GetSubkeys(std::string_view keyPath, std::vector<std::string>& out);
    // Sets `out` to the string value of the entry `name` of `keyPath`, up to
    // its first NUL. True when the key and the entry were found.
    bool GetValue(std::string_view keyPath, std::string_view name, std::string& out);

private:
    void Trace(std::string_view text) const { platform::WriteLog(log_, text); }

    platform::LogSink* log_ = nullptr;
    struct Descriptor {
        uint32_t nameOffset = 0;
        uint16_t nameLength = 0;
        uint16_t type = 0;
        uint32_t next = 0;
        uint32_t down = 0;  // key: first subkey; entry: value buffer size
        uint32_t value = 0; // key: first entry; entry: value offset
    };

    void Reset();
    // Reads `length` bytes at `offset`; false unless they are all in the file.
    bool ReadAt(uint64_t offset, size_t length, std::string& out);
    std::optional<Descriptor> ReadDescriptor(uint32_t offset);
    // The record's name up to its first NUL; empty optional when the name
    // does not lie wholly in the file.
    std::optional<std::string> ReadName(const Descriptor& descriptor);
    // Finds the key that `keyPath` names and keeps its descriptor in matched_.
    bool FindKey(std::string_view keyPath);
    // Walks the chain of records from `offset` (along `next`), giving the
    // name of each named record to `visit` until it returns true; that
    // record is the result. A record or name outside the file, or a chain
    // that comes back on itself, ends the walk with none.
    std::optional<Descriptor> WalkChain(
        uint32_t offset, const std::function<bool(const std::string&)>& visit);

    std::ifstream file_;
    bool open_ = false;
    uint64_t fileSize_ = 0;
    Descriptor root_;
    Descriptor matched_;
};

} // namespace oriel
