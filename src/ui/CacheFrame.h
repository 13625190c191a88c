// The main window: the profile tree on the left, the item list top right,
// and below the list either the content pane or the request-data pane; the
// toolbar, the two-pane status bar with its progress bar, the view commands
// and the window settings.
#pragma once

#include "model/Progress.h"
#include "ui/Document.h"
#include "ui/FileTypeIcons.h"

#include <QMainWindow>

#include <atomic>
#include <map>
#include <memory>

class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QToolBar;

namespace oriel {

class CCacheListView;
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

    // Shows the stored values; repaints at once when forced or when the
    // last repaint is long enough ago. Only on the window's thread.
    void Sync(bool force = false);
    int Lower() const { return lower_; }
    int Upper() const { return upper_; }
    int Position() const { return pos_; }

private:
    void SyncIfOwnThread();

    QProgressBar* bar_;
    std::atomic<int> lower_{0};
    std::atomic<int> upper_{100};
    std::atomic<int> pos_{0};
    qint64 lastPaint_ = 0;
};

class CCacheFrame : public QMainWindow {
    Q_OBJECT
public:
    // Command ids of the menus, the toolbar and the accelerators.
    enum Command {
        ID_FILE_RELOAD = 40006,
        ID_APP_EXIT = 40007,
        ID_EDIT_SELECT_ALL = 40024,
        ID_EDIT_INVERT = 40025,
        ID_VIEW_TOOLBAR = 40027,
        ID_VIEW_SHOW_MISSING = 40028,
        ID_VIEW_LARGE_ICONS = 40029,
        ID_VIEW_SMALL_ICONS = 40030,
        ID_VIEW_LIST = 40031,
        ID_VIEW_DETAILS = 40032,
        ID_SORT_URL = 40034, // to ID_SORT_URL + 6: the seven sort columns
        ID_VIEW_AUTO_ARRANGE = 40041,
        ID_NEXT_PANE = 40058,
        ID_VIEW_REQUEST_DATA = 40064,
        ID_VIEW_CONTENTS = 40065,
    };
    // Context menus.
    enum Menu { kNoMenu = 0, kItemMenu = 110, kBackgroundMenu = 111, kServerMenu = 124, kProfileMenu = 130 };

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
    // Decodes on the cache's decode thread while the window waits in a
    // local event loop, advancing the progress bar; 0 or -1.
    int RunDecode(CCache* cache);
    bool ShowMissing() const { return showMissing_; }
    // The sort column of the frame (menu check marks); clears auto arrange.
    void SetSortColumn(int column);
    int SortColumn() const { return sortColumn_; }
    bool AutoArrange() const { return autoArrange_; }
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
    QAction* Action(int command) const;

    // Commands.
    void OnReloadCache();
    void OnViewStyle(int style);
    void OnToggleToolbar();
    void OnToggleShowMissing();
    void OnSortCommand(int column);
    void OnAutoArrange();
    void OnSelectAll();
    void OnInvertSelection();
    // 0 request data, 1 contents.
    void ShowInfoView(int infoView);
    void OnNextPane();
    // Enables and ticks the commands as the state says.
    void UpdateCommandUI();

    // The context menu for a right click at a global point, by what lies
    // under it; and the menu itself (null when it has no entries yet).
    int ContextMenuAt(const QPoint& globalPos) const;
    std::unique_ptr<QMenu> CreateContextMenu(int menu);

    void LoadSettings();
    void SaveSettings();
    // The show command of the window as it is now.
    int ShowCommand() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateClient();
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateProgressBar();
    void PlaceProgressBar();
    QAction* AddAction(int command, const QString& text, bool checkable = false);
    void OnTitleChanged(const std::string& title);

    CCacheDocument& document_;
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
    QProgressBar* progressBar_ = nullptr;
    std::unique_ptr<FrameProgress> progress_;
    std::map<int, QAction*> actions_;

    int viewStyle_ = 1;
    int sortColumn_ = 0;
    int defaultAction_ = 0;
    bool showMissing_ = true;
    bool autoArrange_ = false;
    int infoView_ = 0;
    int selectedCount_ = 0;
    int busy_ = 0;
    bool closing_ = false;
    int splitWidth_ = 0;
    int splitHeight_ = 0;
};

} // namespace oriel
