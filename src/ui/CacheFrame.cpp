#include "ui/CacheFrame.h"

#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "model/DecodeJob.h"
#include "ui/CacheAccess.h"
#include "ui/WindowLog.h"
#include "model/TextForms.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/ContentView.h"
#include "ui/dialogs/FindDialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

} // namespace

// ---------------------------------------------------------------------------
// FrameProgress

FrameProgress::FrameProgress(QProgressBar* bar)
    : bar_(bar)
{
}

void FrameProgress::SetRange(int lower, int upper)
{
    lower_ = lower;
    upper_ = std::max(lower, upper);
    SyncIfOwnThread();
}

void FrameProgress::SetPos(int position)
{
    pos_ = position;
    SyncIfOwnThread();
}

void FrameProgress::OffsetPos(int delta)
{
    pos_ += delta;
    SyncIfOwnThread();
}

void FrameProgress::StepIt()
{
    // A step of 1, wrapping to the start past the end as the control does.
    int next = pos_ + 1;
    pos_ = next > upper_ ? lower_.load() : next;
    SyncIfOwnThread();
}

void FrameProgress::SyncIfOwnThread()
{
    if (QThread::currentThread() == bar_->thread()) {
        Sync(false);
        return;
    }
    // Moved by a job's thread: the window's thread shows it, with at most
    // one such call waiting; a call that comes within the repaint interval
    // waits out the rest of it, so that the last value always shows.
    if (!syncPosted_.exchange(true)) {
        QMetaObject::invokeMethod(
            bar_,
            [this] {
                const qint64 wait = kPaintInterval - (QDateTime::currentMSecsSinceEpoch() - lastPaint_);
                auto show = [this] {
                    syncPosted_ = false;
                    Sync(true);
                };
                if (wait > 0)
                    QTimer::singleShot(int(wait), bar_, show);
                else
                    show();
            },
            Qt::QueuedConnection);
    }
}

void FrameProgress::Sync(bool force)
{
    // The bar is brought up to date and repainted now, not when the event
    // loop comes round (the long work that moves it keeps the loop from
    // running); at most every 40 ms, so that 100,000 steps cost nothing.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!force && now - lastPaint_ < kPaintInterval)
        return;
    lastPaint_ = now;
    const int lower = lower_, upper = upper_;
    const int pos = std::clamp(pos_.load(), lower, upper);
    if (bar_->minimum() != lower || bar_->maximum() != upper)
        bar_->setRange(lower, upper);
    bar_->setValue(pos);
    if (bar_->isVisible())
        bar_->repaint();
}

// ---------------------------------------------------------------------------
// CCacheFrame

CCacheFrame::CCacheFrame(CCacheDocument& document, QWidget* parent)
    : QMainWindow(parent)
    , document_(document)
{
    Trace("Entry - CCacheFrame::CCacheFrame()");
    InitUiResources();
    setWindowIcon(QIcon(QStringLiteral(":/oriel/icons/oriel.svg")));
    setWindowTitle(Text(IDS_APP_TITLE));

    OptionStore& store = OptionStore::Instance();
    setGeometry(store.ReadInt("Window", "Left", 50), store.ReadInt("Window", "Top", 50),
                store.ReadInt("Window", "Width", 550), store.ReadInt("Window", "Height", 350));

    icons_ = std::make_unique<CFileTypeIcons>();

    CreateClient();
    CreateCommands();
    CreateToolBar();
    CreateStatusBar();
    CreateProgressBar();
    LoadSettings();

    document_.SetTitleListener([this](const std::string& title) { OnTitleChanged(title); });
    list_->OnInitialUpdate();
    tree_->OnInitialUpdate();
    metaData_->OnInitialUpdate();
    content_->OnInitialUpdate();
    tree_->AddProfiles();
    UpdateStatusText();
    list_->CurrentView()->setFocus();
    Trace("Exit - CCacheFrame::CCacheFrame()");
}

CCacheFrame::~CCacheFrame()
{
    // A decode still running is stopped and waited for while the window and
    // its views are whole; its posted completion then dies with the window.
    job_.reset();
    jobDone_ = nullptr;
    document_.SetTitleListener(nullptr);
    // The views go first: the list draws with the icon cache.
    delete takeCentralWidget();
}

void CCacheFrame::CreateClient()
{
    Trace("Entry - CCacheFrame::OnCreateClient()");
    outer_ = new QSplitter(Qt::Horizontal, this);
    inner_ = new QSplitter(Qt::Vertical, outer_);
    Trace("      - Created Splitter OK");
    tree_ = new CCacheTreeView(*this, document_);
    outer_->insertWidget(0, tree_);
    Trace("      - Created TreeView OK (RO)");
    list_ = new CCacheListView(*this, document_);
    inner_->addWidget(list_);
    Trace("      - Created ListView OK (RO)");
    infoView_ = 0;
    metaData_ = new CMetaDataView(document_);
    inner_->addWidget(metaData_);
    Trace("      - Created CMetaDataView OK (RO)");
    content_ = new CContentView(document_);
    inner_->addWidget(content_);
    content_->hide();
    Trace("      - Created ContentView OK (RO)");
    for (QSplitter* splitter : {outer_, inner_}) {
        splitter->setChildrenCollapsible(false);
        for (int i = 0; i < splitter->count(); ++i)
            splitter->widget(i)->setMinimumSize(20, 20);
    }
    outer_->setStretchFactor(0, 0);
    outer_->setStretchFactor(1, 1);
    inner_->setStretchFactor(0, 0);
    inner_->setStretchFactor(1, 1);
    inner_->setStretchFactor(2, 1);

    OptionStore& store = OptionStore::Instance();
    // Applied when the window is first shown and the splitters know their
    // own size.
    splitWidth_ = std::max(20, store.ReadInt("Window", "SplitWidth", 200));
    splitHeight_ = std::max(20, store.ReadInt("Window", "SplitHeight", 200));
    setCentralWidget(outer_);
    Trace("Exit - CCacheFrame::OnCreateClient()");
}

void CCacheFrame::CreateCommands()
{
    commands_ = std::make_unique<CommandRegistry>(AllCommands(), StandardMenuLayout());
    commands_->CreateActions(this, [this](const Command& command) {
        // A busy window takes no command (a decode runs while the window
        // keeps its event loop).
        if (command.run && !IsBusy())
            command.run(*this, CommandState());
    });
    commands_->BuildMenuBar(menuBar(), [this] { UpdateCommandUI(); });
    commands_->AddAccelerators(this);
    // A double click with a single row selected runs the default action.
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(list_->Table()),
                                    static_cast<QAbstractItemView*>(list_->IconList())}) {
        connect(view, &QAbstractItemView::doubleClicked, this, [this] {
            if (list_->GetSelectedCount() == 1)
                RunCommand(ID_DEFAULT_ACTION);
        });
    }
}

void CCacheFrame::RunCommand(int command)
{
    const Command* declared = commands_->Find(command);
    if (declared && declared->run && !IsBusy())
        declared->run(*this, CommandState());
}

QAction* CCacheFrame::Action(int command) const
{
    return commands_ ? commands_->Action(command) : nullptr;
}

void CCacheFrame::CreateToolBar()
{
    Trace("Entry - CCacheFrame::CreateToolBar()");
    toolBar_ = new QToolBar(Text(IDS_TOOLBAR_TITLE), this);
    toolBar_->setObjectName(QStringLiteral("Tools"));
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setMovable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    commands_->BuildToolBar(toolBar_);
    addToolBar(Qt::TopToolBarArea, toolBar_);
    Trace("Exit - CCacheFrame::CreateToolBar()");
}

void CCacheFrame::CreateStatusBar()
{
    Trace("Entry - CCacheFrame::CreateStatusBar()");
    pane0_ = new QLabel(this);
    pane1_ = new QLabel(this);
    readOnlyPane_ = new QLabel(Text(IDS_READ_ONLY_CACHE), this);
    readOnlyPane_->setToolTip(Text(IDS_READ_ONLY_NOTE));
    readOnlyPane_->setFrameShape(QFrame::StyledPanel);
    readOnlyPane_->setFrameShadow(QFrame::Sunken);
    readOnlyPane_->setIndent(3);
    readOnlyPane_->hide();
    utcPane_ = new QLabel(Text(IDS_TIMES_UTC), this);
    utcPane_->setToolTip(Text(IDS_TIMES_UTC));
    utcPane_->setFrameShape(QFrame::StyledPanel);
    utcPane_->setFrameShadow(QFrame::Sunken);
    utcPane_->setIndent(3);
    pane0_->setMinimumWidth(150);
    pane1_->setMinimumWidth(150);
    for (QLabel* pane : {pane0_, pane1_}) {
        pane->setFrameShape(QFrame::StyledPanel);
        pane->setFrameShadow(QFrame::Sunken);
        pane->setIndent(3);
    }
    statusBar()->addWidget(pane0_, 0);
    statusBar()->addWidget(pane1_, 1);
    statusBar()->addPermanentWidget(readOnlyPane_, 0);
    statusBar()->addPermanentWidget(utcPane_, 0);
    statusBar()->setSizeGripEnabled(true);
    pane0_->installEventFilter(this);
    // When a command's prompt goes (the menu closes, the pointer leaves a
    // button), pane 0 shows the idle text until the next count.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty())
            pane0_->setText(Text(IDS_READY));
    });
    Trace("Exit - CCacheFrame::CreateStatusBar()");
}

void CCacheFrame::CreateProgressBar()
{
    Trace("Entry - CCacheFrame::CreateProgressBar()");
    progressBar_ = new QProgressBar(statusBar());
    progressBar_->setObjectName(QStringLiteral("progress"));
    progressBar_->setTextVisible(false);
    progressBar_->hide();
    progress_ = std::make_unique<FrameProgress>(progressBar_);
    Trace("Exit - CCacheFrame::CreateProgressBar()");
}

void CCacheFrame::PlaceProgressBar()
{
    if (progressBar_ && pane0_)
        progressBar_->setGeometry(pane0_->geometry());
}

bool CCacheFrame::eventFilter(QObject* watched, QEvent* event)
{
    // The bar stays exactly over pane 0 whatever moves the pane.
    if (watched == pane0_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        PlaceProgressBar();
    return QMainWindow::eventFilter(watched, event);
}

void CCacheFrame::LoadSettings()
{
    Trace("Entry - CCacheFrame::LoadSettings()");
    OptionStore& store = OptionStore::Instance();
    const int infoView = store.ReadInt("Options", "InfoView", 1);
    if (infoView != infoView_)
        ShowInfoView(infoView == 0 ? 0 : 1);
    toolBar_->setVisible(store.ReadInt("Options", "Toolbar", 1) != 0);
    showMissing_ = store.ReadInt("Options", "ShowMissing", 1) != 0;
    showRecovered_ = store.ReadInt("Options", "ShowRecovered", 0) != 0;
    defaultAction_ = store.ReadInt("Options", "DefaultAction", 0);
    const bool programPathSet = !store.ReadString("Options", "QuickView", "").empty();
    if (defaultAction_ == 2 && !programPathSet)
        defaultAction_ = 0;
    int view = store.ReadInt("Options", "View", 1);
    if (view > 3 || view < 0)
        view = 1;
    list_->SetViewStyle(view);
    UpdateCommandUI();
    Trace("Exit - CCacheFrame::LoadSettings()");
}

int CCacheFrame::ShowCommand() const
{
    if (isMinimized())
        return 2;
    if (isMaximized())
        return 3;
    return 1;
}

void CCacheFrame::SaveSettings()
{
    OptionStore& store = OptionStore::Instance();
    const QRect normal = (isMaximized() || isMinimized() || isFullScreen()) ? normalGeometry() : geometry();
    store.WriteInt("Window", "State", ShowCommand());
    store.WriteInt("Window", "Left", normal.x());
    store.WriteInt("Window", "Width", normal.width());
    store.WriteInt("Window", "Top", normal.y());
    store.WriteInt("Window", "Height", normal.height());
    store.WriteInt("Window", "SplitWidth", outer_->sizes().value(0));
    store.WriteInt("Window", "SplitHeight", inner_->sizes().value(0));
    store.WriteInt("Options", "InfoView", infoView_);
    store.WriteInt("Options", "Toolbar", toolBar_->isVisibleTo(this) ? 1 : 0);
    store.WriteInt("Options", "ShowMissing", showMissing_ ? 1 : 0);
    store.WriteInt("Options", "ShowRecovered", showRecovered_ ? 1 : 0);
    // The view style the user chose comes back at the next start.
    store.WriteInt("Options", "View", list_->GetViewStyle());
    store.Sync();
}

void CCacheFrame::ShowWithState(int showCommand)
{
    switch (showCommand) {
    case 2:
        showMinimized();
        break;
    case 3:
        showMaximized();
        break;
    default:
        show();
        break;
    }
}

void CCacheFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (splitWidth_ > 0) {
        if (layout())
            layout()->activate();
        const int total = std::max(outer_->width(), splitWidth_ + 20);
        outer_->setSizes({splitWidth_, total - splitWidth_});
        const int height = std::max(inner_->height(), splitHeight_ + 20);
        const int pane = height - splitHeight_;
        inner_->setSizes({splitHeight_, infoView_ == 0 ? pane : 0, infoView_ == 0 ? 0 : pane});
        splitWidth_ = splitHeight_ = 0;
    }
}

void CCacheFrame::closeEvent(QCloseEvent* event)
{
    // A decode in progress holds the window: it ends first.
    if (IsBusy()) {
        event->ignore();
        return;
    }
    if (!closing_) {
        closing_ = true;
        SaveSettings();
    }
    // The Find dialog goes with the window.
    delete CFindDlg::OpenDialog(*this);
    event->accept();
}

void CCacheFrame::OnTitleChanged(const std::string& title)
{
    documentTitle_ = title;
    ComposeTitle();
}

void CCacheFrame::ComposeTitle()
{
    QString text = documentTitle_.empty()
                       ? Text(IDS_APP_TITLE)
                       : QString::fromStdString(documentTitle_) + QStringLiteral(" - ") + Text(IDS_APP_TITLE);
    const QString examined = ExaminedText();
    if (!examined.isEmpty())
        text += QStringLiteral(" - ") + examined;
    setWindowTitle(text);
}

void CCacheFrame::SetApplication(CCacheApp* app)
{
    app_ = app;
    UpdateExaminedTitle();
}

void CCacheFrame::UpdateExaminedTitle()
{
    ComposeTitle();
}

QString CCacheFrame::ExaminedText() const
{
    if (!app_)
        return {};
    const AppOptions& options = app_->Options();
    if (options.useProfiles == CBrowserSettings::kModeFolderOnly)
        return QString::fromStdString(options.cacheFolder);
    auto system = app_->Context().System();
    if (!system->HasSystem())
        return {};
    QString text = QString::fromStdString(system->Root());
    if (const platform::UserProfile* user = system->User())
        text += Text(IDS_TITLE_USER).arg(QString::fromStdString(user->name));
    return text;
}

void CCacheFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Activated from elsewhere (not by a click into it, not as it is
    // restored from an icon): the list takes the focus.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !isMinimized() &&
        QApplication::mouseButtons() == Qt::NoButton && list_)
        list_->CurrentView()->setFocus(Qt::ActiveWindowFocusReason);
}

QString CCacheFrame::StatusText(int pane) const
{
    return pane == 0 ? pane0_->text() : pane1_->text();
}

void CCacheFrame::UpdateStatusText()
{
    selectedCount_ = list_->GetSelectedCount();
    int64_t sum = 0;
    if (selectedCount_ > 0) {
        pane0_->setText(QString::fromStdString(FormatSize(selectedCount_)) + Text(IDS_OBJECTS_SELECTED));
        sum = list_->SizeSum(true);
    } else if (list_->GetItemCount() == 0 && list_->ShowsUndecoded(tree_->GetSelectedProfile())) {
        // Nothing to count yet: the text says how to get the items.
        pane0_->setText(Text(IDS_NOT_DECODED));
    } else {
        pane0_->setText(QString::fromStdString(FormatSize(list_->GetItemCount())) + Text(IDS_OBJECTS));
        sum = list_->SizeSum(false);
    }
    QString unit = Text(IDS_UNIT_BYTES);
    if (sum > 1023) {
        sum /= 1024;
        unit = Text(IDS_UNIT_KB);
    }
    pane1_->setText(QString::fromStdString(FormatSize(sum)) + unit);
    // A cache on a read-only mount says so: its deleting commands are off.
    readOnlyPane_->setVisible(!CacheWritable(tree_->GetSelectedProfile()));
    statusBar()->repaint();
    if (commands_ && toolBar_)
        commands_->Refresh(CommandState(selectedCount_));
}

void CCacheFrame::SetStatusMessage(int stringId)
{
    pane0_->setText(Text(stringId));
    statusBar()->repaint();
}

void CCacheFrame::ShowProgress(bool show)
{
    if (show) {
        PlaceProgressBar();
        progressBar_->show();
        progressBar_->raise();
        progress_->Sync(true);
    } else {
        progressBar_->hide();
    }
}

void CCacheFrame::BeginWait()
{
    if (busy_++ == 0) {
        QWidget* focus = QApplication::focusWidget();
        focusBeforeWait_ = focus && isAncestorOf(focus) ? focus : nullptr;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        centralWidget()->setEnabled(false);
        menuBar()->setEnabled(false);
        toolBar_->setEnabled(false);
    }
}

void CCacheFrame::EndWait()
{
    if (busy_ > 0 && --busy_ == 0) {
        centralWidget()->setEnabled(true);
        menuBar()->setEnabled(true);
        toolBar_->setEnabled(true);
        QApplication::restoreOverrideCursor();
        // Typing goes on where it was (type-ahead in the tree, keys in the
        // list); work that moves the focus on purpose does so afterwards.
        if (focusBeforeWait_ && focusBeforeWait_->isVisible() && focusBeforeWait_->isEnabled() &&
            QApplication::focusWidget() != focusBeforeWait_)
            focusBeforeWait_->setFocus(Qt::OtherFocusReason);
        focusBeforeWait_ = nullptr;
    }
}

void CCacheFrame::StartJob(std::unique_ptr<Job> job, std::function<void(Job&)> done)
{
    if (!job)
        return;
    if (job_) {
        if (done)
            done(*job);
        return;
    }
    job_ = std::move(job);
    jobDone_ = std::move(done);
    // Called on the job's thread: the window goes on on its own.
    job_->SetCompletionHandler([this](const Job&) {
        QMetaObject::invokeMethod(this, &CCacheFrame::OnJobFinished, Qt::QueuedConnection);
    });
    job_->Start();
}

void CCacheFrame::OnJobFinished()
{
    std::unique_ptr<Job> job = std::move(job_);
    if (!job)
        return;
    job->Wait();
    progress_->Sync(true);
    std::function<void(Job&)> done = std::move(jobDone_);
    jobDone_ = nullptr;
    if (done)
        done(*job);
}

void CCacheFrame::StartDecode(CCache* cache, std::function<void(int)> done)
{
    if (!cache) {
        if (done)
            done(-1);
        return;
    }
    progress_->SetRange(0, 100);
    progress_->SetPos(0);
    StartJob(std::make_unique<DecodeJob>(*cache, progress_.get(), true), [this, done](Job& job) {
        const int result = static_cast<DecodeJob&>(job).GetCache().IsDecoded() && job.Result().ran ? 0 : -1;
        if (done)
            done(result);
        // Only a job that was started ends; one turned away did not.
        if (job.IsFinished())
            emit DecodeFinished(result);
    });
}

int CCacheFrame::SortColumn() const
{
    return std::max(list_->SortColumn(), 0);
}

CommandContext CCacheFrame::CommandState(int selectedCount) const
{
    CommandContext context;
    context.profile = tree_->GetSelectedProfile();
    context.server = tree_->GetSelectedServer();
    context.treeActive = tree_->hasFocus();
    context.selectedCount = selectedCount >= 0 ? selectedCount : list_->GetSelectedCount();
    const CCacheListView* list = list_;
    context.selectedItems = [list] { return list->SelectedItems(); };
    context.viewStyle = list_->GetViewStyle();
    context.sortColumn = SortColumn();
    context.autoArrange = list_->AutoArrange();
    context.showMissing = showMissing_;
    context.showRecovered = showRecovered_;
    context.recoveredServer = CCacheTreeView::IsRecoveredNode(tree_->currentItem());
    context.toolbarVisible = toolBar_ && toolBar_->isVisibleTo(this);
    context.infoView = infoView_;
    context.defaultAction = defaultAction_;
    context.cacheWritable = CacheWritable(context.profile);
    context.programPathSet = !OptionStore::Instance().ReadString("Options", "QuickView", "").empty();
    return context;
}

void CCacheFrame::UpdateCommandUI()
{
    if (!commands_ || !toolBar_)
        return;
    commands_->Refresh(CommandState());
}

void CCacheFrame::ShowInfoView(int infoView)
{
    if (infoView == infoView_)
        return;
    QWidget* show = infoView == 0 ? static_cast<QWidget*>(metaData_) : static_cast<QWidget*>(content_);
    QWidget* hide = infoView == 0 ? static_cast<QWidget*>(content_) : static_cast<QWidget*>(metaData_);
    const bool hadFocus = hide->isAncestorOf(QApplication::focusWidget()) || hide->hasFocus();
    const QList<int> sizes = inner_->sizes();
    show->show();
    hide->hide();
    // The shown pane takes the hidden one's place in the splitter (once the
    // splitter has been laid out; before that it lays itself out).
    const int paneHeight = std::max(sizes.value(1), sizes.value(2));
    if (sizes.value(0) > 0 && paneHeight > 0)
        inner_->setSizes({sizes.value(0), infoView == 0 ? paneHeight : 0, infoView == 0 ? 0 : paneHeight});
    if (hadFocus)
        show->setFocus();
    infoView_ = infoView;
    UpdateCommandUI();
}

bool CCacheFrame::focusNextPrevChild(bool)
{
    OnNextPane();
    return true;
}

void CCacheFrame::OnNextPane()
{
    // Between the tree and the right-hand pane.
    if (tree_->hasFocus())
        list_->CurrentView()->setFocus(Qt::TabFocusReason);
    else
        tree_->setFocus(Qt::TabFocusReason);
}

int CCacheFrame::ContextMenuAt(const QPoint& globalPos) const
{
    QAbstractItemView* view = list_->CurrentView();
    if (view->isVisible()) {
        const QPoint p = view->viewport()->mapFromGlobal(globalPos);
        if (view->viewport()->rect().contains(p) && view->indexAt(p).isValid())
            return kItemMenu;
    }
    if (tree_->isVisible()) {
        const QPoint p = tree_->viewport()->mapFromGlobal(globalPos);
        if (tree_->viewport()->rect().contains(p)) {
            if (QTreeWidgetItem* node = tree_->itemAt(p))
                return CCacheTreeView::NodeImage(node) != CCacheTreeView::kProfileImage ? kServerMenu : kProfileMenu;
        }
    }
    return kBackgroundMenu;
}

std::unique_ptr<QMenu> CCacheFrame::CreateContextMenu(int menu)
{
    UpdateCommandUI();
    return commands_->CreateContextMenu(menu, this, CommandState());
}

void CCacheFrame::contextMenuEvent(QContextMenuEvent* event)
{
    if (IsBusy())
        return;
    std::unique_ptr<QMenu> menu = CreateContextMenu(ContextMenuAt(event->globalPos()));
    if (menu)
        menu->exec(event->globalPos());
}

} // namespace oriel
