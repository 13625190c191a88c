#include "formats/OperaContainerItem.h"

#include "platform/ByteSource.h"
#include "platform/FileSystem.h"

namespace oriel {

COperaContainerItem::COperaContainerItem(CCache* owner, int32_t recordKey, uint8_t objectId)
    : CEmbeddedBodyItem(owner, recordKey)
    , objectId_(objectId)
{
}

std::string COperaContainerItem::ContainerFileName() const
{
    // A name that would leave the cache folder names no container.
    if (!cacheName_ || !platform::IsContainedRelativeName(*cacheName_))
        return {};
    return std::string(*cacheName_);
}

std::optional<OperaContainerObject> COperaContainerItem::GetObject()
{
    if (located_)
        return object_;
    located_ = true;
    const std::string& container = ContainerFilePath();
    if (container.empty())
        return std::nullopt;
    const std::unique_ptr<platform::ByteSource> source = platform::FileRange{container}.Open();
    if (!source)
        return std::nullopt;
    object_ = LocateOperaContainerObject(source->Read(0, opera_container::kMaxHeaderSize), source->Size(), objectId_);
    if (!object_)
        Trace("     COperaContainerItem - object " + std::to_string(objectId_) + " is not in the container " +
              container);
    return object_;
}

bool COperaContainerItem::Exists()
{
    if (!CEmbeddedBodyItem::Exists() || !GetObject())
        return false;
    if (size_ == 0)
        SetSize(int32_t(object_->length));
    return true;
}

bool COperaContainerItem::ExtractBodyTo(const std::string& target)
{
    if (!GetObject())
        return false;
    return CEmbeddedBodyItem::ExtractBodyTo(target);
}

std::optional<CEmbeddedBodyItem::StoredRange> COperaContainerItem::StoredBytes() const
{
    if (!object_)
        return std::nullopt;
    return StoredRange{int64_t(object_->offset), object_->length};
}

std::vector<std::pair<std::string, std::string>> COperaContainerItem::GetFormatProperties() const
{
    return {{"Container object", std::to_string(objectId_)}};
}

} // namespace oriel
