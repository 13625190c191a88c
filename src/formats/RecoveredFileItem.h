// An item found outside the live index (a stale record, a body no record
// names) whose body, if any, is a plain file in the cache folder. It says
// where it was found, so that an examiner can go back to the bytes.
#pragma once

#include "model/CacheItem.h"

#include <string>
#include <utility>
#include <vector>

namespace oriel {

class CRecoveredFileItem : public CFileCacheItem {
public:
    using CFileCacheItem::CFileCacheItem;

    // "Found at" and the like, shown after the common fields.
    void AddFormatProperty(std::string label, std::string text)
    {
        properties_.emplace_back(std::move(label), std::move(text));
    }
    std::vector<std::pair<std::string, std::string>> GetFormatProperties() const override { return properties_; }

private:
    std::vector<std::pair<std::string, std::string>> properties_;
};

} // namespace oriel
