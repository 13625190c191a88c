// Delete and Empty Cache through the window on a Mozilla cache folder:
// deleting 10,000 selected items, and emptying a 100,000-item cache (decoded
// first, as without FastDelete), with how often the window's event loop ran
// meanwhile (the progress is repainted from it).
//
//   bench_delete [ENTRIES [SELECTED]]
//
// With Show Missing Files on (the default) the deleted rows stay, ghosted.
// The trace log is on (a line per removed file), and the cache is synced to
// disk before the clock starts.
//
// On the shared 2-core machine (load about 10, other builds writing to the
// same disk): first measured without the log and without the sync, delete
// 10,000 of 100,000: 7.4 s, longest event-loop gap 163 ms; empty 100,000
// decoded first: 172 s, gap 173 ms. With the log on and the empty yielding
// every 1,024 items instead of on each: delete 9.7 s, gap 94 ms; empty
// 163 s, gap 154 ms. With the empty's exact checks of the removed files as
// well, the sync, and a build running beside it: delete 15.2 s, gap 93 ms;
// empty 142.6 s, gap 128 ms. Most of what is left is the disk: unlinking
// 20,000 files there takes 18 s by itself, and an open and close of the log
// per line 3 s (0.2 s with the file kept open; the window still opens it per line so that each line is on disk).
#include "formats/NetscapeCacheMapCache.h"
#include "support/MozillaCacheWriter.h"
#include "support/TestContext.h"
#include "support/TestEnvironment.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/WindowLog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

using namespace oriel;

struct Run {
    double seconds = 0;
    qint64 longestGapMs = 0; // the longest the event loop went without a turn
};

// Triggers the command and runs the event loop until the window is idle.
Run Time(CCacheFrame& frame, int command)
{
    Run run;
    QElapsedTimer clock;
    QElapsedTimer gap;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        run.longestGapMs = std::max(run.longestGapMs, gap.restart());
    });
    clock.start();
    gap.start();
    tick.start();
    frame.UpdateStatusText();
    frame.Action(command)->trigger();
    while (frame.IsJobRunning() || frame.IsBusy())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    return run;
}

std::unique_ptr<ProfileList> MozillaProfile(const std::string& folder, int entries, BrowserProfile** profile)
{
    test::MozillaCacheWriter writer;
    writer.SetLayout(test::MozillaCacheWriter::Layout::Nested);
    for (int i = 0; i < entries; ++i)
        writer.Add("http://s" + std::to_string(i % 400) + ".example/" + std::to_string(i) + ".gif", "GIF89a body",
                   "image/gif")
            .dataFile = 0;
    writer.Write(folder);
    // On disk before the clock starts: otherwise the removals wait for the
    // writeback of the files just written, which an examined cache never has.
    ::sync();
    auto owned = std::make_unique<BrowserProfile>();
    owned->profileName = owned->displayName = "Bench";
    owned->cacheFolder = folder;
    owned->cache = std::make_unique<NetscapeCacheMapCache>(test::Context(), owned.get(), folder);
    auto list = std::make_unique<ProfileList>();
    *profile = &list->Add(std::move(owned));
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    test::TestEnvironment environment;
    const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int selected = argc > 2 ? std::atoi(argv[2]) : 10000;
    // The trace log on, as the window has it: a line for every removed file.
    test::TempDir logDir;
    test::TraceCapture trace(logDir.file("Oriel.log"));
    SetWindowLog(&test::Context().Log());

    for (int pass = 0; pass < 2; ++pass) {
        test::TempDir dir;
        BrowserProfile* profile = nullptr;
        CCacheDocument document(MozillaProfile(dir.file("Cache"), entries, &profile));
        CCacheFrame frame(document);
        frame.resize(1000, 700);
        frame.show();
        profile->cache->Decode();
        document.UpdateAllViews(frame.Tree(), CACHE_RELOAD, CUpdateHint::ForProfile(profile));
        QApplication::processEvents();
        if (pass == 0) {
            CCacheListView& list = *frame.List();
            QItemSelectionModel* selection = list.Table()->selectionModel();
            QItemSelection rows(list.Model()->index(0, 0), list.Model()->index(selected - 1, 0));
            selection->select(rows, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            const Run run = Time(frame, CCacheFrame::ID_EDIT_DELETE);
            std::printf("delete %d selected of %d items: %.2f s, longest event-loop gap %lld ms, %d rows left\n",
                        selected, entries, run.seconds, static_cast<long long>(run.longestGapMs),
                        list.GetItemCount());
            std::fflush(stdout);
        } else {
            profile->cache->DoShutdown(); // emptied from an undecoded cache: decoded first
            document.UpdateAllViews(nullptr, CACHE_EMPTY, CUpdateHint::ForProfile(profile));
            QApplication::processEvents();
            frame.Tree()->setCurrentItem(frame.Tree()->FindProfileNode(profile));
            const Run run = Time(frame, CCacheFrame::ID_FILE_EMPTY);
            std::printf("empty %d items (decoded first): %.2f s, longest event-loop gap %lld ms\n", entries,
                        run.seconds, static_cast<long long>(run.longestGapMs));
        }
    }
    const std::string log = trace.Text();
    std::printf("trace log: %zu lines\n", size_t(std::count(log.begin(), log.end(), '\n')));
    SetWindowLog(nullptr);
    return 0;
}
