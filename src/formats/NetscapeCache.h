// The common base of the caches whose index is one database file in the
// cache folder and whose bodies are files in that folder: Mozilla's
// "_CACHE_MAP_", Netscape's "cache.db" and "fat.db", Opera's "dcache4.url".
// It opens and closes the database file and empties the cache or deletes
// chosen items through one delete run that never leaves the cache folder.
#pragma once

#include "model/Cache.h"
#include "platform/ByteSource.h"

#include <memory>
#include <string>

namespace oriel {

class ShellFileOperation;

class NetscapeCache : public CCache {
public:
    NetscapeCache(const AppContext& context, BrowserProfile* profile, std::string folder, std::string databaseFileName);
    ~NetscapeCache() override;

    void DoShutdown() override;
    // "FastDelete" on: every file and sub-folder of the cache folder (refused
    // for an empty folder path, the file-system root or a home folder).
    // Otherwise: the files of the decoded items that exist, and with
    // "RemoveDB" the database file. Returns 0, or -1 when refused.
    int DoEmpty(OwnerWindow owner) override;
    // The files of the given items, up to the first null item or a stop
    // request. Returns 0.
    int DoDeleteItems(OwnerWindow owner, std::span<CCacheItem* const> items) override;
    // 0 when the database file opens; otherwise the "not found" message.
    int OpenDatabase() override;
    virtual int CloseDBFile();
    virtual int OpenDBFile();

    const std::string& GetDatabaseFileName() const { return databaseFileName_; }
    // Host path of the database file (found without regard to case).
    std::string DatabaseFilePath() const;
    // Decodes these bytes as the database instead of reading the database
    // file (the fuzz harnesses feed their input so); null goes back to the
    // file.
    void SetDatabaseSource(std::shared_ptr<const platform::ByteSource> source) { givenSource_ = std::move(source); }

protected:
    // The open database's bytes, or null.
    const platform::ByteSource* Database() const { return database_.get(); }

private:
    // The files that deleting `item` removes: for a plain file item its
    // body and any working copy made from it; for an item kept inside a
    // block file only its extracted copy.
    void AppendItemPaths(ShellFileOperation& operation, CCacheItem& item) const;

    std::string databaseFileName_;
    std::shared_ptr<const platform::ByteSource> givenSource_;
    std::shared_ptr<const platform::ByteSource> database_;
};

// The value of an "Options" switch ("FastDelete", "RemoveDB") in the
// context's loaded options.
int ReadDeleteOption(const AppContext& context, const char* key);

} // namespace oriel
