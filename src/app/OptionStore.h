// The per-user option store: an INI file with one section per store section.
// Key names compare without regard to case, as in the Windows registry the
// options were designed for ("Quickview" and "QuickView" are one value).
//
// The file is $ORIEL_CONFIG when set, otherwise
// $XDG_CONFIG_HOME/Oriel/Oriel.ini (~/.config/Oriel/Oriel.ini).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include <QString>

class QSettings;

namespace oriel {

enum class OptionType { Integer, Text };

// One key of the store with its type and default.
struct OptionDef {
    const char* section;
    const char* key;
    OptionType type;
    int intDefault;
    const char* textDefault;
};

// Every section and key the application reads or writes, with its default.
// Keys with a default that depends on the running window ("Window"/"State")
// hold 0 here; their readers pass their own default.
std::span<const OptionDef> OptionTable();
const OptionDef* FindOption(std::string_view section, std::string_view key);

class OptionStore {
public:
    explicit OptionStore(const std::string& fileName);
    ~OptionStore();
    OptionStore(const OptionStore&) = delete;
    OptionStore& operator=(const OptionStore&) = delete;

    // The store of this process (path from the environment, see above).
    static OptionStore& Instance();
    // Points Instance() at another file; for tests and portable use.
    static void SetInstanceFile(const std::string& fileName);
    static std::string DefaultFileName();

    int ReadInt(std::string_view section, std::string_view key, int defaultValue) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // Reads with the default of the option table.
    int ReadInt(std::string_view section, std::string_view key) const;
    std::string ReadString(std::string_view section, std::string_view key) const;

    void WriteInt(std::string_view section, std::string_view key, int value);
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void Sync();

    const std::string& FileName() const { return fileName_; }

    // An options file larger than this is not read (nor anything that is
    // not a plain file: a FIFO would block the start for ever).
    static constexpr uint64_t kMaxFileSize = uint64_t(16) << 20;
    // Why the file was not read, naming it; empty when it was (or did not
    // exist yet). A refused file is never written either: every read gives
    // the default.
    const std::string& RefusalReason() const { return refusal_; }

private:
    // The key as spelled in the file when one matches without regard to case.
    QString StoredKey(std::string_view section, std::string_view key) const;
    // Makes the file's folder when it is missing; before each write.
    void MakeFolder();

    std::string fileName_;
    std::string refusal_;
    std::unique_ptr<QSettings> settings_; // none when the file was refused
    bool folderMade_ = false;
    mutable std::recursive_mutex mutex_;
};

} // namespace oriel
