// The main window: the profile tree on the left, the item list top right,
// and below the list either the content pane or the request-data pane; the
// toolbar, the two-pane status bar with its progress bar, the view commands
// and the window settings.
#pragma once

#include "model/Progress.h"
#include "ui/Document.h"
#include "ui/FileTypeIcons.h"
#include "ui/commands/CommandRegistry.h"

#include <QMainWindow>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>

class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QToolBar;

namespace oriel {

class CCacheApp;
class CCacheListView;
class Job;
class CCacheTreeView;
class CContentView;
class CMetaDataView;

// The status-bar progress bar as long operations see it. A decode on the
// worker thread only stores the values; the window shows them (Sync) from
// its own thread.
class FrameProgress : public Progress {
public:
    explicit FrameProgress(QProgressBar* bar);

    void SetRange(int lower, int upper) override;
    void SetPos(int position) override;
    void OffsetPos(int delta) override;
    void StepIt() override;

    // Shows the stored values (moved on another thread, they are shown by a
    // call posted to the window's thread); repaints at once when forced or when the
    // last repaint is long enough ago. Only on the window's thread.
    void Sync(bool force = false);
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    int Position() const { return pos_; }

private:
    // Milliseconds between two repaints that are not forced.
    static constexpr qint64 kPaintInterval = 40;
    void SyncIfOwnThread();

    QProgressBar* bar_;
    std::atomic<int> lower_{0};
    std::atomic<int> upper_{100};
    std::atomic<int> pos_{0};
    // A repaint posted to the window's thread and not yet run.
    std::atomic<bool> syncPosted_{false};
    qint64 lastPaint_ = 0;
};

// The window: the splitter with the views, the toolbar, the status bar and
// the progress bar. Its commands are declared in ui/commands/ and placed by
// ui/commands/MenuLayout.cpp; the frame gives them its state and services.
class CCacheFrame : public QMainWindow, public CommandIds {
    Q_OBJECT
public:
    explicit CCacheFrame(CCacheDocument& document, QWidget* parent = nullptr);
    ~CCacheFrame() override;

    // Shows the window with a stored show command (1 normal, 2 minimized,
    // 3 maximized).
    void ShowWithState(int showCommand);

    // Services for the views and commands.
    void UpdateStatusText();
    void SetStatusMessage(int stringId);
    void ShowProgress(bool show);
    FrameProgress& GetProgress() { return *progress_; }
    QProgressBar* ProgressBar() const { return progressBar_; }
    // Wait cursor and a disabled window; nests.
    void BeginWait();
    void EndWait();
    bool IsBusy() const { return busy_ > 0; }
    // Starts long work on its own thread (a decode, an export, a delete)
    // and returns at once; the caller has made the window busy and the
    // job reports to the frame's progress. `done` runs on the window's
    // thread once the job has ended, with the job and its results; then
    // the job is destroyed. One job at a time: while one runs, a new one is
    // not started and its `done` runs at once (its result says it did not
    // run).
    void StartJob(std::unique_ptr<Job> job, std::function<void(Job& job)> done);
    bool IsJobRunning() const { return job_ != nullptr; }
    // A decode of the cache as a job: `done` gets 0 (the cache is decoded)
    // or -1, then DecodeFinished is emitted. Without a cache, or while
    // another job runs, `done` runs at once with -1 and nothing is emitted.
    void StartDecode(CCache* cache, std::function<void(int result)> done);
    bool IsDecoding() const { return IsJobRunning(); }
    bool ShowMissing() const { return showMissing_; }
    void SetShowMissing(bool show) { showMissing_ = show; }
    // View > Show Recovered Entries: the "<Recovered>" group under each
    // profile, and recovered rows in the profile's list.
    bool ShowRecovered() const { return showRecovered_; }
    void SetShowRecovered(bool show) { showRecovered_ = show; }
    // The list's sort column (before the list's first fill, 0).
    int SortColumn() const;
    int InfoView() const { return infoView_; }
    int DefaultAction() const { return defaultAction_; }
    CFileTypeIcons& Icons() { return *icons_; }

    CCacheDocument& Document() { return document_; }
    CCacheTreeView* Tree() const { return tree_; }
    CCacheListView* List() const { return list_; }
    CContentView* Content() const { return content_; }
    CMetaDataView* MetaData() const { return metaData_; }
    QToolBar* ToolBar() const { return toolBar_; }
    QSplitter* OuterSplitter() const { return outer_; }
    QSplitter* InnerSplitter() const { return inner_; }
    QString StatusText(int pane) const;
    // The status-bar note of a read-only cache.
    QLabel* ReadOnlyNote() const { return readOnlyPane_; }
    // The status-bar note that the list's times are UTC.
    QLabel* TimeZoneNote() const { return utcPane_; }

    // The commands: their actions, the state their rules look at, and the
    // refresh that enables and ticks them.
    CommandRegistry& Commands() { return *commands_; }
    QAction* Action(int command) const;
    // Runs a command now with the current state (as its action would).
    void RunCommand(int command);
    // The selected count is asked of the list unless given.
    CommandContext CommandState(int selectedCount = -1) const;
    void UpdateCommandUI();

    // The lower pane: 0 request data, 1 contents.
    void ShowInfoView(int infoView);
    // Focus between the tree and the right-hand pane.
    void OnNextPane();

    // The context menu for a right click at a global point, by what lies
    // under it; and the menu itself (null when it has no entries yet).
    int ContextMenuAt(const QPoint& globalPos) const;
    std::unique_ptr<QMenu> CreateContextMenu(int menu);

    void LoadSettings();
    void SaveSettings();
    // The show command of the window as it is now.
    int ShowCommand() const;

    // The application whose options the dialogs edit and whose examined
    // system they change; null for a window over fixed profiles (tests).
    void SetApplication(CCacheApp* app);
    CCacheApp* Application() const { return app_; }
    // Set by the options dialog; 2 (QuickView) only with a program path.
    void SetDefaultAction(int action) { defaultAction_ = action; }
    // The title names what is examined: the cache folder shown alone, or
    // the system's root and user. Called after every change of either.
    void UpdateExaminedTitle();
    // The part of the title that names it; empty when nothing is examined.
    QString ExaminedText() const;

signals:
    void DecodeFinished(int result);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateClient();
    void CreateCommands();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateProgressBar();
    void PlaceProgressBar();
    void OnTitleChanged(const std::string& title);
    void ComposeTitle();
    void OnJobFinished();

    CCacheDocument& document_;
    CCacheApp* app_ = nullptr;
    std::string documentTitle_;
    std::unique_ptr<CFileTypeIcons> icons_;
    QSplitter* outer_ = nullptr;
    QSplitter* inner_ = nullptr;
    CCacheTreeView* tree_ = nullptr;
    CCacheListView* list_ = nullptr;
    CMetaDataView* metaData_ = nullptr;
    CContentView* content_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* pane0_ = nullptr;
    QLabel* pane1_ = nullptr;
    QLabel* readOnlyPane_ = nullptr; // shown while the selected cache is read-only
    QLabel* utcPane_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    std::unique_ptr<FrameProgress> progress_;
    std::unique_ptr<CommandRegistry> commands_;
    std::unique_ptr<Job> job_;
    std::function<void(Job&)> jobDone_;
    // The widget that had the keyboard focus when the window became busy:
    // disabling the views takes it away, and it gets it back at the end.
    QPointer<QWidget> focusBeforeWait_;

    int defaultAction_ = 0;
    bool showMissing_ = true;
    bool showRecovered_ = false;
    int infoView_ = 0;
    int selectedCount_ = 0;
    int busy_ = 0;
    bool closing_ = false;
    int splitWidth_ = 0;
    int splitHeight_ = 0;
};

} // namespace oriel
