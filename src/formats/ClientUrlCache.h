// Internet Explorer cache folder read from its "index.dat" directly. Read
// only: emptying and deleting do nothing.
#pragma once

#include "formats/IndexDatFile.h"
#include "model/Cache.h"
#include "platform/ByteSource.h"

#include <memory>
#include <string>

namespace oriel {

class ClientUrlCache : public CCache {
public:
    static constexpr const char* kIndexFileName = "index.dat";

    ClientUrlCache(const AppContext& context, BrowserProfile* profile, std::string folder);
    ~ClientUrlCache() override;

    void DoShutdown() override;
    int DoDecode() override;
    int DoEmpty(OwnerWindow owner) override;
    int DoDeleteItems(OwnerWindow owner, std::span<CCacheItem* const> items) override;
    int OpenDatabase() override;
    virtual int CloseDBFile();
    virtual int OpenDBFile();

    // Host path of the index file.
    std::string IndexFilePath() const;
    // Decodes these bytes as the index instead of reading the index file
    // (the fuzz harness feeds its input so); null goes back to the file.
    void SetDatabaseSource(std::shared_ptr<const platform::ByteSource> source) { givenSource_ = std::move(source); }

private:
    // 0 when the header is sound; otherwise -1, with `reason` set when
    // there is more to say than that the header is invalid.
    int GetHeaderInfo(std::string& reason);
    // Returns the cursor of the next record, or -1 to end the walk.
    int64_t ReadRecord(int64_t offset, bool& decodedUrl);
    int ParseUrlRecord(const ByteReader& record);

    std::shared_ptr<const platform::ByteSource> givenSource_;
    std::shared_ptr<const platform::ByteSource> source_;
    std::unique_ptr<IndexDatFile> index_;
    int32_t recordCount_ = 0;
    std::string cacheNameBuffer_; // only its first bytes are the name
};

} // namespace oriel
