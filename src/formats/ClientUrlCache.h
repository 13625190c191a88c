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

    // An index of at least this many bytes is walked in two parts at once,
    // on two threads, where the machine has two cores or more. The items,
    // their order and keys are the same either way (tests set it to 0 to
    // split every index, or to UINT64_MAX to split none).
    static constexpr uint64_t kSplitWalkFrom = uint64_t(1) << 20;
    void SetSplitWalkFrom(uint64_t bytes) { splitWalkFrom_ = bytes; }

private:
    class LaterPart;
    // 0 when the header is sound; otherwise -1, with `reason` set when
    // there is more to say than that the header is invalid.
    int GetHeaderInfo(std::string& reason);
    // Walks the records from `offset` until the walk reaches `end`; returns
    // where it stopped: `end` or past it, or -1 at the end of the walk.
    int64_t WalkRecords(int64_t offset, size_t end);
    // Returns the cursor of the next record, or -1 to end the walk (the
    // cursor when the walk reached `end`).
    int64_t ReadRecord(int64_t offset, bool& decodedUrl, size_t end);
    int ParseUrlRecord(const ByteReader& record);
    // The later part of the walk, started on a second thread; none when the
    // index is too small to split, or has no record start past its middle.
    std::unique_ptr<LaterPart> StartLaterPart();
    // Files the later part's items after this thread's, when this thread's
    // walk ended exactly where the later part began and the later part ran
    // to the end; true then. Otherwise the later part is dropped, and this
    // thread walks on itself.
    bool TakeLaterPart(LaterPart& later, int64_t reached);

    std::shared_ptr<const platform::ByteSource> givenSource_;
    std::shared_ptr<const platform::ByteSource> source_;
    std::unique_ptr<IndexDatFile> index_;
    int32_t recordCount_ = 0;
    std::string cacheNameBuffer_; // only its first bytes are the name
    uint64_t splitWalkFrom_ = kSplitWalkFrom;
};

} // namespace oriel
