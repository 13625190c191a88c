#include "ui/CacheAccess.h"

#include "model/BrowserProfile.h"
#include "model/Cache.h"
#include "platform/FileSystem.h"

namespace oriel {

bool CacheWritable(const BrowserProfile* profile)
{
    if (!profile || !profile->cache)
        return true;
    return !platform::FolderReadOnly(profile->cache->GetFolder());
}

} // namespace oriel
