// A registry hive file (SOFTWARE, NTUSER.DAT) of the examined system, read
// through libhivex. The hive is opened once, read-only, and stays open;
// reads are serialised, so one HiveRegistry may be shared by threads.
#pragma once

#include "platform/RegistryReader.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace oriel::platform {

class HiveRegistry final : public RegistryReader {
public:
    // Opens the hive at `hivePath`. Its root key stands as `mountPath` under
    // `root` for QueryString and EnumSubkeys (SOFTWARE: LocalMachine,
    // "Software"; NTUSER.DAT: CurrentUser, ""). A missing, truncated or
    // corrupt hive yields nullptr, with the warning that names the file in
    // `problem` for the caller to show.
    static std::shared_ptr<HiveRegistry> Open(const std::string& hivePath, RootKey root,
                                              std::string_view mountPath, std::string* problem = nullptr);
    ~HiveRegistry() override;
    HiveRegistry(const HiveRegistry&) = delete;
    HiveRegistry& operator=(const HiveRegistry&) = delete;

    const std::string& path() const { return path_; }

    // Reads by key path relative to the hive's root, names compared without
    // regard to case.
    enum class ValueKind { Missing, String, OtherType };
    // A REG_SZ value sets `text` (UTF-8, up to its first NUL) when given.
    ValueKind LookupValue(std::string_view hiveKeyPath, std::string_view valueName, std::string* text) const;
    bool KeyExists(std::string_view hiveKeyPath) const;
    // Appends the subkey names in the hive's order; false when the key does not exist.
    bool SubkeyNames(std::string_view hiveKeyPath, std::vector<std::string>& out) const;

    int QueryString(RootKey root, std::string_view keyPath, std::string_view valueName,
                    std::string& out) const override;
    bool EnumSubkeys(RootKey root, std::string_view keyPath, std::vector<std::string>& out) const override;

    // Checks the base block and the extent of the hive bins before libhivex
    // sees the file; empty when sound, otherwise what is wrong.
    static std::string CheckHiveHeader(std::string_view bytes, uint64_t fileSize);

private:
    struct Impl;
    HiveRegistry(std::string path, RootKey root, std::string_view mountPath, std::unique_ptr<Impl> impl);
    // Maps a path under `root` to a path relative to the hive root; false when outside the hive.
    bool ToHivePath(RootKey root, std::string_view keyPath, std::string& hivePath) const;

    std::string path_;
    RootKey root_;
    std::vector<std::string> mount_; // folded components of the mount path
    std::unique_ptr<Impl> impl_;
};

} // namespace oriel::platform
