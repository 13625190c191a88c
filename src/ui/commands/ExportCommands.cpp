// Export to CSV: the selected profile's whole index to a file the user
// names, through an ExportJob (the cache is decoded first when it is not).
// Export Report: the selected profile's HTML report into a folder the user
// chooses, through a ReportJob (the same report as oriel-cli report).
#include "ui/commands/Command.h"

#include "app/StringTable.h"
#include "catalog/FormatCatalog.h"
#include "imaging/ImageThumbnailer.h"
#include "model/BrowserProfile.h"
#include "model/Cache.h"
#include "ops/ExportJob.h"
#include "ops/ReportJob.h"
#include "ui/dialogs/FolderPicker.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"

#include <QFileDialog>
#include <QMessageBox>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

// The save dialog: "CSV Files (*.csv)", extension "csv" added when none is
// typed, the overwrite question; empty when cancelled.
QString AskCsvFileName(CCacheFrame& frame)
{
    QFileDialog dialog(&frame, Text(IDS_MENU_EXPORT_CSV).remove(u'&'), QString(), Text(IDS_CSV_FILTER));
    dialog.setObjectName(QStringLiteral("exportCsvDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

void ExportCsv(CCacheFrame& frame, BrowserProfile* profile)
{
    if (!profile || !profile->cache || frame.IsJobRunning())
        return;
    const QString file = AskCsvFileName(frame);
    if (file.isEmpty())
        return;
    ExportRequest request;
    request.outputPath = file.toLocal8Bit().toStdString();
    request.displayName = profile->displayName;
    request.cacheFolder = profile->cacheFolder;
    request.decodeFirst = true;
    request.showMessages = true;
    const bool wasDecoded = profile->cache->IsDecoded();
    frame.BeginWait();
    if (!wasDecoded) {
        frame.GetProgress().SetRange(0, 100);
        frame.GetProgress().SetPos(0);
        frame.ShowProgress(true);
        frame.SetStatusMessage(IDS_DECODING);
    }
    auto job = std::make_unique<ExportJob>(*profile->cache, request, &frame.GetProgress());
    frame.StartJob(std::move(job), [&frame, profile, wasDecoded](Job& done) {
        auto& export_ = static_cast<ExportJob&>(done);
        frame.ShowProgress(false);
        frame.EndWait();
        // A cache decoded for the export shows in the tree as after a
        // re-load.
        if (!wasDecoded && profile->cache->IsDecoded())
            frame.Document().UpdateAllViews(frame.List(), CACHE_RELOAD, CUpdateHint::ForProfile(profile));
        for (const FileResult& result : export_.Files()) {
            if (result.outcome == FileOutcome::Failed || result.outcome == FileOutcome::Refused)
                QMessageBox::warning(&frame, Text(IDS_APP_TITLE),
                                     Text(IDS_CSV_EXPORT_FAILED) + QString::fromStdString(result.reason));
        }
        frame.UpdateStatusText();
    });
}

void ExportReport(CCacheFrame& frame, BrowserProfile* profile)
{
    if (!profile || !profile->cache || frame.IsJobRunning())
        return;
    const QString folder = PickFolder(&frame, Text(IDS_SELECT_REPORT_FOLDER), QString());
    if (folder.isEmpty())
        return;
    ReportRequest request;
    request.folder = folder.toStdString();
    request.profiles.push_back({profile->displayName, FormatBrowserName(CacheFormatName(*profile->cache)),
                                profile->cache->GetFolder(), profile->cache.get()});
    AddExaminedSystem(request, profile->cache->Context());
    // Recovered entries are reported when the cache holds them.
    request.withRecovered = profile->cache->GetRecoveredCount() > 0;
    request.decodeFirst = true;
    const bool wasDecoded = profile->cache->IsDecoded();
    frame.BeginWait();
    frame.GetProgress().SetRange(0, 100);
    frame.GetProgress().SetPos(0);
    frame.ShowProgress(true);
    frame.SetStatusMessage(wasDecoded ? IDS_REPORT_WRITING : IDS_DECODING);
    // Stateless; shared by every report the window writes.
    static ImageThumbnailer thumbnailer;
    auto job = std::make_unique<ReportJob>(std::move(request), &thumbnailer, &frame.GetProgress());
    frame.StartJob(std::move(job), [&frame, profile, wasDecoded](Job& done) {
        auto& report = static_cast<ReportJob&>(done);
        frame.ShowProgress(false);
        frame.EndWait();
        if (!wasDecoded && profile->cache && profile->cache->IsDecoded())
            frame.Document().UpdateAllViews(frame.List(), CACHE_RELOAD, CUpdateHint::ForProfile(profile));
        for (const FileResult& result : report.Files()) {
            if (result.outcome == FileOutcome::Failed || result.outcome == FileOutcome::Refused)
                QMessageBox::warning(&frame, Text(IDS_APP_TITLE),
                                     Text(IDS_REPORT_FAILED) + QString::fromStdString(result.reason));
        }
        frame.UpdateStatusText();
    });
}

} // namespace

std::vector<Command> ExportCommands()
{
    using C = CommandIds;
    return {
        {.id = C::ID_FILE_EXPORT_CSV,
         .textId = IDS_MENU_EXPORT_CSV,
         .enabled = [](const CommandContext& c) { return c.ProfileSelected(); },
         .run = [](CCacheFrame& frame, const CommandContext& c) { ExportCsv(frame, c.profile); }},
        {.id = C::ID_FILE_EXPORT_REPORT,
         .textId = IDS_MENU_EXPORT_REPORT,
         .enabled = [](const CommandContext& c) { return c.ProfileSelected(); },
         .run = [](CCacheFrame& frame, const CommandContext& c) { ExportReport(frame, c.profile); }},
    };
}

} // namespace oriel
