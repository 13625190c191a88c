// An item of an Opera cache whose body is one object of a container file
// (Opera 12 packs several small objects into one cache file; see
// Dcache4File.h). The record names the file and the object's id; the
// object's bytes are extracted, and decoded by the item's content encoding,
// to a file of their own on demand. The container is never changed.
#pragma once

#include "formats/Dcache4File.h"
#include "formats/EmbeddedBodyItem.h"

#include <cstdint>
#include <optional>
#include <string>

namespace oriel {

class COperaContainerItem : public CEmbeddedBodyItem {
public:
    // The body: object `objectId` of the cache file the item's cache name
    // gives.
    COperaContainerItem(CCache* owner, int32_t recordKey, uint8_t objectId);

    uint8_t GetObjectId() const { return objectId_; }
    // Where the object lies in its container; none when the container is
    // missing, is no container, or does not hold the object.
    std::optional<OperaContainerObject> GetObject();

    // The container is there and its header gives this item's object.
    bool Exists() override;
    bool ExtractBodyTo(const std::string& target) override;
    std::vector<std::pair<std::string, std::string>> GetFormatProperties() const override;

protected:
    std::string ContainerFileName() const override;
    std::optional<StoredRange> StoredBytes() const override;
    const char* TraceName() const override { return "COperaContainerItem"; }

private:
    uint8_t objectId_;
    bool located_ = false;
    std::optional<OperaContainerObject> object_;
};

} // namespace oriel
