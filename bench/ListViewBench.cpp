// The item list with a 100,000-item profile: filling the list, sorting by
// URL and by size, painting a scrolled page, and the memory an item costs.
//
//   bench_list_view [ENTRIES]
//
// The profile's cache holds ENTRIES items over 400 servers, each with a
// small body file on disk (so that the fill checks real files), decoded
// before the list is timed.
#include "model/TextForms.h"
#include "support/FakeCache.h"
#include "support/TestEnvironment.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <time.h>
#include <unistd.h>

namespace {

using namespace oriel;

long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

double CpuNow()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Wall-clock and CPU seconds of one run; on a shared machine the CPU time
// is the figure that does not depend on the other load.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

template <typename F>
Timing Seconds(F&& f)
{
    QElapsedTimer timer;
    const double cpu = CpuNow();
    timer.start();
    f();
    return {double(timer.nsecsElapsed()) / 1e9, CpuNow() - cpu};
}

void Print(const char* what, Timing t, int divide = 1)
{
    std::printf("%-30s %8.4f s wall  %8.4f s cpu\n", what, t.wall / divide, t.cpu / divide);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    test::TestEnvironment environment;
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;

    test::TempDir dir;
    static const char* const kTypes[] = {"text/html", "image/gif", "image/jpeg", "text/css",
                                         "application/x-javascript", "image/png"};
    static const char* const kExtensions[] = {"htm", "gif", "jpg", "css", "js", "png"};
    for (int d = 0; d < 16; ++d)
        std::filesystem::create_directories(dir.path() + "/D" + std::to_string(d));
    for (int i = 0; i < entries; ++i) {
        std::ofstream(dir.path() + "/D" + std::to_string(i % 16) + "/f" + std::to_string(i) + "[1]." +
                      kExtensions[i % 6])
            << "x";
    }

    auto profiles = std::make_unique<ProfileList>();
    auto owned = std::make_unique<BrowserProfile>();
    owned->profileName = owned->displayName = "Bench";
    auto cache = std::make_unique<test::FakeCache>(dir.path(), owned.get());
    cache->decode = [entries](test::FakeCache& c) {
        std::mt19937 rng(7);
        for (int i = 0; i < entries; ++i) {
            std::string host = "www.server" + std::to_string(rng() % 400) + ".com";
            std::string path = "/dir" + std::to_string(rng() % 50) + "/page" + std::to_string(rng()) + "." +
                               kExtensions[i % 6];
            std::string name = "D" + std::to_string(i % 16) + "/f" + std::to_string(i) + "[1]." + kExtensions[i % 6];
            int64_t t = 1243857600 - int64_t(rng() % 31536000);
            c.AddItem(host, std::make_unique<CFileCacheItem>(&c, i, "http://" + host + path, path, name,
                                                              kTypes[i % 6], int32_t(rng() % 200000), t, t + 60,
                                                              t + 86400));
        }
        return 0;
    };
    owned->cache = std::move(cache);
    BrowserProfile& profile = profiles->Add(std::move(owned));
    CCacheDocument document(std::move(profiles));
    CCacheFrame frame(document);
    frame.resize(1000, 700);
    frame.show();
    QApplication::processEvents();

    const long beforeDecode = ResidentBytes();
    Timing decode = Seconds([&] { profile.cache->Decode(); });
    const int32_t items = profile.cache->GetItemCount();
    const long afterDecode = ResidentBytes();

    // What every fill must pay: one existence check per item, inside one
    // folder pass as the list's check makes them.
    Timing exists = Seconds([&] {
        CCache& cache = *profile.cache;
        const CCache::FolderPass pass(cache);
        for (int32_t g = 0; g < cache.GetGroupCount(); ++g) {
            for (int32_t i = 0; i < cache.GetGroup(g)->GetCount(); ++i)
                cache.GetGroup(g)->ItemAt(i)->Exists();
        }
    });
    CCacheListView& list = *frame.List();
    // Sent by the tree, as when the user picks the profile there (sent by
    // no view, the tree would rebuild its node and fill the list twice).
    Timing fill = Seconds([&] {
        document.UpdateAllViews(frame.Tree(), CACHE_RELOAD, CUpdateHint::ForProfile(&profile));
    });
    const long afterFill = ResidentBytes();
    // A second fill: the working set is warm (item files stat'ed before).
    Timing refill = Seconds([&] { document.UpdateAllViews(nullptr, CACHE_REFRESH, nullptr); });
    Timing byUrl = Seconds([&] { list.SortByColumn(0, true); });
    Timing bySize = Seconds([&] { list.SortByColumn(2, true); });
    Timing bySizeDown = Seconds([&] { list.SortByColumn(2, false); });
    QTableView* table = list.Table();
    Timing scroll = Seconds([&] {
        for (int step = 1; step <= 20; ++step) {
            table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum() * step / 20);
            table->viewport()->repaint();
        }
    });
    Timing selectAll = Seconds([&] { frame.RunCommand(CCacheFrame::ID_EDIT_SELECT_ALL); });

    std::printf("items                          %d (rows %d)\n", items, list.GetItemCount());
    Print("decode (building the items)", decode);
    Print("Exists() of every item", exists);
    Print("fill list", fill);
    Print("fill list again (refresh)", refill);
    Print("sort by URL", byUrl);
    Print("sort by size", bySize);
    Print("sort by size, descending", bySizeDown);
    Print("scroll and paint one page", scroll, 20);
    Print("select all + status text", selectAll);
    std::printf("memory per item, decoded       %.0f bytes\n", double(afterDecode - beforeDecode) / items);
    std::printf("memory per item, list rows     %.0f bytes\n", double(afterFill - afterDecode) / items);
    return 0;
}
