#include "support/SyntheticFormats.h"

#include "support/ChromiumCacheWriter.h"
#include "support/Dcache4Writer.h"
#include "support/FirefoxCache2Writer.h"
#include "support/IndexDatWriter.h"
#include "support/MozillaCacheWriter.h"
#include "support/NetscapeDbWriter.h"

namespace oriel::test {

std::vector<SyntheticFormat> EverySyntheticFormat()
{
    return {
        {"index-dat", [](auto& f, auto& o) { WriteSyntheticIndexDatCache(f, o); }},
        {"cache-db", [](auto& f, auto& o) { WriteSyntheticCacheDbCache(f, o); }},
        {"fat-db", [](auto& f, auto& o) { WriteSyntheticFatDbCache(f, o); }},
        {"dcache4", [](auto& f, auto& o) { WriteSyntheticOperaCache(f, o); }},
        {"mozilla-flat", [](auto& f, auto o) { o.layout = "flat"; WriteSyntheticMozillaCache(f, o); }},
        {"mozilla-nested", [](auto& f, auto o) { o.layout = "nested"; WriteSyntheticMozillaCache(f, o); }},
        {"firefox-cache2", [](auto& f, auto& o) { WriteSyntheticFirefoxCache2Cache(f, o); }},
        {"chromium", [](auto& f, auto& o) { WriteSyntheticChromiumCache(f, o); }},
    };
}

} // namespace oriel::test
