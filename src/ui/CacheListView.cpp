#include "ui/CacheListView.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/WindowLog.h"
#include "ui/CacheFrame.h"
#include "model/ItemExistence.h"
#include "ui/FileTypeIcons.h"

#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QTableView>
#include <QToolTip>

#include <algorithm>

namespace oriel {

// ---------------------------------------------------------------------------
// CCacheListView

CCacheListView::CCacheListView(CCacheFrame& frame, CCacheDocument& document, QWidget* parent)
    : QStackedWidget(parent)
    , frame_(frame)
    , document_(document)
    , model_(new CCacheItemModel(this))
    , table_(new QTableView(this))
    , list_(new QListView(this))
{
    model_->SetIcons(&frame.Icons());

    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setTabKeyNavigation(false);
    table_->setCornerButtonEnabled(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->setIconSize(QSize(16, 16));
    table_->verticalHeader()->hide();
    // Fixed row heights keep scrolling through 100,000 rows cheap.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header, &QHeaderView::sectionClicked, this, &CCacheListView::OnHeaderClicked);
    connect(header, &QHeaderView::sectionResized, this, &CCacheListView::OnSectionResized);

    list_->setModel(model_);
    list_->setSelectionModel(table_->selectionModel());
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setUniformItemSizes(true);
    list_->setLayoutMode(QListView::Batched);
    list_->setBatchSize(2000);
    list_->setResizeMode(QListView::Adjust);
    list_->setMovement(QListView::Static);
    list_->setTextElideMode(Qt::ElideMiddle);

    addWidget(table_);
    addWidget(list_);
    setCurrentWidget(table_);

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(table_), static_cast<QAbstractItemView*>(list_)}) {
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
    }
    connect(model_, &QAbstractItemModel::modelReset, this, &CCacheListView::ForgetShownItemIfGone);
    connect(model_, &QAbstractItemModel::rowsRemoved, this, &CCacheListView::ForgetShownItemIfGone);
    document_.AddView(this);
}

CCacheListView::~CCacheListView()
{
    document_.RemoveView(this);
}

QAbstractItemView* CCacheListView::CurrentView() const
{
    return viewStyle_ == kDetails ? static_cast<QAbstractItemView*>(table_) : static_cast<QAbstractItemView*>(list_);
}

void CCacheListView::OnInitialUpdate()
{
    Trace("Entry - CCacheListView::OnInitialUpdate()");
    AddRootColumns();
    Trace("Exit - CCacheListView::OnInitialUpdate()");
}

void CCacheListView::OnUpdate(CView*, int32_t hint, CUpdateHint* hintObject)
{
    Trace("Entry - CCacheListView::OnUpdate()");
    switch (hint) {
    case CACHE_RELOAD:
        Trace("      - lHint = ViewHintEnum::CACHE_RELOAD");
        if (hintObject && hintObject->kind == CUpdateHint::kServer) {
            DeleteAllItems();
            // The group of recovered items has no one server: its rows
            // show whole URLs, as a profile's do.
            CNamedCacheItemArray* server = hintObject->server;
            CCacheItem* first = server && server->GetCount() > 0 ? server->ItemAt(0) : nullptr;
            if (first && first->IsRecovered())
                AddRootColumns();
            else
                AddStdColumns();
            sourceKind_ = Source::Server;
            sourceServer_ = hintObject->server;
            sourceProfile_ = nullptr;
            ShowItems(sourceServer_);
        } else if (hintObject && hintObject->kind == CUpdateHint::kProfile) {
            DeleteAllItems();
            AddRootColumns();
            sourceKind_ = Source::Profile;
            sourceProfile_ = hintObject->profile;
            sourceServer_ = nullptr;
            ShowItems(sourceProfile_);
        }
        break;
    case CACHE_REFRESH:
        Trace("      - lHint = ViewHintEnum::CACHE_REFRESH");
        DeleteAllItems();
        if (sourceKind_ == Source::Profile)
            ShowItems(sourceProfile_);
        else if (sourceKind_ == Source::Server)
            ShowItems(sourceServer_);
        break;
    case CACHE_EMPTY:
        Trace("      - lHint = ViewHintEnum::CACHE_EMPTY");
        emptiedProfile_ = hintObject && hintObject->kind == CUpdateHint::kProfile ? hintObject->profile : nullptr;
        DeleteAllItems();
        AddRootColumns();
        // The emptied or rebuilt collection destroyed the items and groups
        // the list showed; a later refresh must not reach them.
        sourceKind_ = Source::None;
        sourceServer_ = nullptr;
        sourceProfile_ = nullptr;
        break;
    default:
        break;
    }
    Trace("Exit - CCacheListView::OnUpdate()");
}

void CCacheListView::ApplyColumns(ColumnSet set)
{
    if (columnSet_ == set)
        return;
    const bool root = set == ColumnSet::Root;
    model_->SetRootMode(root);
    applyingColumns_ = true;
    OptionStore& store = OptionStore::Instance();
    for (int column = 0; column < CCacheItemModel::kColumnCount; ++column) {
        // A width the user dragged is kept as it is.
        int width = store.ReadInt("ColumnWidths", CCacheItemModel::WidthKey(root, column), -1);
        table_->setColumnWidth(column, width >= 0 ? width : DefaultColumnWidth(column));
    }
    applyingColumns_ = false;
    columnSet_ = set;
}

int CCacheListView::DefaultColumnWidth(int column) const
{
    // The title with a sort arrow beside it, as the header measures it
    // (the arrow is counted while the header shows one).
    QHeaderView* header = table_->horizontalHeader();
    int width = header->sectionSizeHint(column);
    if (!header->isSortIndicatorShown()) {
        QStyleOptionHeader option;
        option.initFrom(header);
        width += header->sizeHint().height() + header->style()->pixelMetric(QStyle::PM_HeaderMargin, &option, header);
    }
    // The widest cell the column can hold whole, with the cell's margins
    // and a little room.
    const QString widest = CCacheItemModel::WidestText(column);
    if (!widest.isEmpty()) {
        const int margin = table_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table_) + 1;
        width = std::max(width, table_->fontMetrics().horizontalAdvance(widest) + 2 * margin + 6);
    }
    return std::max(width, CCacheItemModel::DefaultWidth(column));
}

void CCacheListView::AddRootColumns()
{
    Trace("Entry - CCacheListView::AddRootColumns()");
    ApplyColumns(ColumnSet::Root);
    Trace("Exit - CCacheListView::AddRootColumns()");
}

void CCacheListView::AddStdColumns()
{
    Trace("Entry - CCacheListView::AddStdColumns()");
    ApplyColumns(ColumnSet::Std);
    Trace("Exit - CCacheListView::AddStdColumns()");
}

void CCacheListView::OnSectionResized(int column, int, int newWidth)
{
    // Only the user's drags are remembered, under the key of the set shown.
    if (applyingColumns_ || columnSet_ == ColumnSet::None)
        return;
    if (const char* key = CCacheItemModel::WidthKey(IsRootMode(), column))
        OptionStore::Instance().WriteInt("ColumnWidths", key, newWidth);
}

void CCacheListView::DeleteAllItems()
{
    model_->Clear();
}

void CCacheListView::ShowItems(CNamedCacheItemArray* server)
{
    if (!server)
        return;
    Trace("Entry - CCacheListView::ShowItems(CNamedCacheItemArray *cacheArray)");
    Fill({server}, server->GetCount());
    Trace("Exit - CCacheListView::ShowItems(CNamedCacheItemArray *cacheArray)");
}

void CCacheListView::ShowItems(BrowserProfile* profile)
{
    if (!profile || !profile->cache)
        return;
    Trace("Entry - CCacheListView::ShowItems(BrowserProfile *profile)");
    CCache* cache = profile->cache.get();
    if (cache->IsDecoded()) {
        if (emptiedProfile_ == profile)
            emptiedProfile_ = nullptr;
        std::vector<CNamedCacheItemArray*> groups;
        for (int32_t i = 0; i < cache->GetGroupCount(); ++i)
            groups.push_back(cache->GetGroup(i));
        int32_t total = cache->GetItemCount();
        // With View > Show Recovered Entries the profile's list holds its
        // recovered rows too (in their own colour); otherwise never.
        if (frame_.ShowRecovered() && cache->GetRecoveredCount() > 0) {
            groups.push_back(const_cast<CNamedCacheItemArray*>(&cache->GetRecoveredItems()));
            total += cache->GetRecoveredCount();
        }
        Fill(groups, total);
    } else {
        frame_.UpdateStatusText();
    }
    Trace("Exit - CCacheListView::ShowItems(BrowserProfile *profile)");
}

void CCacheListView::Fill(const std::vector<CNamedCacheItemArray*>& groups, int32_t total)
{
    frame_.BeginWait();
    frame_.SetStatusMessage(IDS_SHOWING_ITEMS);
    FrameProgress& progress = frame_.GetProgress();
    progress.SetRange(0, total);
    progress.SetPos(0);
    frame_.ShowProgress(true);

    const bool showMissing = frame_.ShowMissing();
    std::vector<CCacheItem*> items;
    items.reserve(size_t(std::max(total, 0)));
    for (CNamedCacheItemArray* group : groups) {
        if (!group)
            continue;
        for (int32_t i = 0; i < group->GetCount(); ++i)
            items.push_back(group->ItemAt(i)); // null entries step the progress too
    }
    const std::vector<char> present = CheckItemExistence(items, progress);
    std::vector<CCacheItemModel::Row> rows;
    rows.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] && (present[i] || showMissing))
            rows.push_back({items[i], !present[i]});
    }
    // Rows were inserted at the top, one by one: the newest first, and the
    // sort that follows keeps that order among equal keys.
    std::reverse(rows.begin(), rows.end());
    if (!model_->HasSortState()) {
        OptionStore& store = OptionStore::Instance();
        model_->SetSortState(store.ReadInt("Options", "SortColumn", 0), store.ReadInt("Options", "SortOrder", 1) != 0);
    }
    model_->SetSortedRows(std::move(rows));
    ShowHeaderSortState();
    if (viewStyle_ == kList)
        list_->setGridSize(QSize(ListColumnWidth(), list_->fontMetrics().height() + 6));

    frame_.ShowProgress(false);
    frame_.EndWait();
    frame_.UpdateStatusText();
}

void CCacheListView::ShowHeaderSortState()
{
    QHeaderView* header = table_->horizontalHeader();
    const int column = model_->SortColumn();
    if (CCacheItemModel::ColumnAt(column)) {
        header->setSortIndicatorShown(true);
        header->setSortIndicator(column, model_->SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    } else {
        header->setSortIndicatorShown(false);
    }
}

void CCacheListView::SortByColumn(int column, bool ascending)
{
    autoArrange_ = false;
    model_->SetSortState(column, ascending);
    ShowHeaderSortState();
    model_->SortRows(column, ascending);
}

void CCacheListView::ReSort()
{
    model_->SortRows(model_->SortColumn(), model_->SortAscending());
}

void CCacheListView::OnHeaderClicked(int column)
{
    SortByColumn(column, !(column == model_->SortColumn() && model_->SortAscending()));
    frame_.UpdateCommandUI();
}

int CCacheListView::FindItem(std::string_view text, bool matchCase, bool wrap, int start) const
{
    return model_->FindItem(text, matchCase, wrap, start);
}

void CCacheListView::SetViewStyle(int style)
{
    if (style < 0 || style > 3)
        style = kDetails;
    viewStyle_ = style;
    if (style == kDetails) {
        autoArrange_ = false;
        setCurrentWidget(table_);
        return;
    }
    const int line = list_->fontMetrics().height();
    switch (style) {
    case kLargeIcons:
        list_->setViewMode(QListView::IconMode);
        list_->setFlow(QListView::LeftToRight);
        list_->setIconSize(QSize(32, 32));
        list_->setWordWrap(true);
        list_->setGridSize(QSize(110, 32 + 2 * line + 10));
        break;
    case kSmallIcons:
        list_->setViewMode(QListView::ListMode);
        list_->setFlow(QListView::LeftToRight);
        list_->setIconSize(QSize(16, 16));
        list_->setWordWrap(false);
        list_->setGridSize(QSize(190, std::max(line, 16) + 6));
        break;
    case kList:
        list_->setViewMode(QListView::ListMode);
        list_->setFlow(QListView::TopToBottom);
        list_->setIconSize(QSize(16, 16));
        list_->setWordWrap(false);
        list_->setGridSize(QSize(ListColumnWidth(), std::max(line, 16) + 6));
        break;
    }
    list_->setWrapping(true);
    list_->setMovement(QListView::Static);
    setCurrentWidget(list_);
}

int CCacheListView::ListColumnWidth() const
{
    const QFontMetrics metrics = list_->fontMetrics();
    int widest = 0;
    for (int row = 0; row < model_->RowCountInt(); ++row) {
        const char* text = model_->Column0Source(model_->ItemAt(row));
        if (text)
            widest = std::max(widest, metrics.horizontalAdvance(QString::fromUtf8(text)));
    }
    // Room for the icon and the gaps around the text.
    return std::min(std::max(widest, 40) + 16 + 12, 4000);
}

void CCacheListView::ArrangeIcons()
{
    list_->doItemsLayout();
}

void CCacheListView::SetAutoArrange(bool on)
{
    autoArrange_ = on && viewStyle_ != kDetails;
}

int CCacheListView::GetItemCount() const
{
    return model_->RowCountInt();
}

std::vector<int> CCacheListView::SelectedRows() const
{
    std::vector<int> rows;
    const QItemSelection selection = table_->selectionModel()->selection();
    std::vector<bool> seen(size_t(model_->RowCountInt()), false);
    for (const QItemSelectionRange& range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            if (row >= 0 && size_t(row) < seen.size() && !seen[size_t(row)]) {
                seen[size_t(row)] = true;
                rows.push_back(row);
            }
        }
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

int CCacheListView::GetSelectedCount() const
{
    return int(SelectedRows().size());
}

std::vector<CCacheItem*> CCacheListView::SelectedItems() const
{
    std::vector<CCacheItem*> items;
    for (int row : SelectedRows())
        items.push_back(model_->ItemAt(row));
    return items;
}

std::vector<CCacheItem*> CCacheListView::SelectedPresentItems() const
{
    std::vector<CCacheItem*> items;
    for (int row : SelectedRows()) {
        if (!model_->IsMissing(row))
            items.push_back(model_->ItemAt(row));
    }
    return items;
}

int CCacheListView::ReviewSelectedRows(bool showMissing)
{
    std::vector<int> gone;
    for (int row : SelectedRows()) {
        // A ghosted row is not examined again.
        if (model_->IsMissing(row))
            continue;
        CCacheItem* item = model_->ItemAt(row);
        if (item && !item->Exists())
            gone.push_back(row);
    }
    if (gone.empty())
        return 0;
    setUpdatesEnabled(false);
    if (showMissing)
        model_->MarkMissing(gone);
    else
        model_->RemoveRows(gone);
    setUpdatesEnabled(true);
    return int(gone.size());
}

int64_t CCacheListView::SizeSum(bool selectedOnly) const
{
    int64_t sum = 0;
    if (selectedOnly) {
        for (CCacheItem* item : SelectedItems())
            sum += item->GetSize();
    } else {
        for (int row = 0; row < model_->RowCountInt(); ++row)
            sum += model_->ItemAt(row)->GetSize();
    }
    return sum;
}

void CCacheListView::SelectAll()
{
    if (model_->RowCountInt() == 0)
        return;
    QItemSelection all(model_->index(0, 0), model_->index(model_->RowCountInt() - 1, CCacheItemModel::kColumnCount - 1));
    table_->selectionModel()->select(all, QItemSelectionModel::Select);
}

void CCacheListView::InvertSelection()
{
    if (model_->RowCountInt() == 0)
        return;
    QItemSelection all(model_->index(0, 0), model_->index(model_->RowCountInt() - 1, CCacheItemModel::kColumnCount - 1));
    table_->selectionModel()->select(all, QItemSelectionModel::Toggle);
}

void CCacheListView::ReportSelectionChange()
{
    frame_.UpdateStatusText();
    std::vector<int> rows = SelectedRows();
    CCacheItem* first = rows.empty() ? nullptr : model_->ItemAt(rows.front());
    shownItem_ = first;
    document_.UpdateAllViews(this, CACHE_NOCHANGE, CUpdateHint::ForItem(first));
}

void CCacheListView::ForgetShownItemIfGone()
{
    if (!shownItem_)
        return;
    for (int row = 0; row < model_->RowCountInt(); ++row) {
        if (model_->ItemAt(row) == shownItem_)
            return;
    }
    // Another profile's or an older decode's body must not stay on show.
    shownItem_ = nullptr;
    document_.UpdateAllViews(this, CACHE_NOCHANGE, CUpdateHint::ForItem(nullptr));
}

bool CCacheListView::ShowsUndecoded(BrowserProfile* profile) const
{
    return profile && profile->cache && !profile->cache->IsDecoded() && !profile->cache->IsDecoding() &&
           profile != emptiedProfile_;
}

QString CCacheListView::TooltipText(const QString& column0Text)
{
    if (column0Text.size() > 76)
        return column0Text.left(76) + QStringLiteral("...");
    return column0Text;
}

bool CCacheListView::eventFilter(QObject* watched, QEvent* event)
{
    const bool onViewport = watched == table_->viewport() || watched == list_->viewport();
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (onViewport) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton)
                ReportSelectionChange();
            else if (mouse->button() == Qt::RightButton)
                frame_.UpdateStatusText();
        }
        break;
    case QEvent::KeyRelease:
        if (watched == table_ || watched == list_) {
            if (!static_cast<QKeyEvent*>(event)->isAutoRepeat())
                ReportSelectionChange();
        }
        break;
    case QEvent::ToolTip:
        if (watched == table_->viewport()) {
            // Long column-0 texts that do not fit their cell get a tooltip.
            auto* help = static_cast<QHelpEvent*>(event);
            QModelIndex index = table_->indexAt(help->pos());
            if (index.isValid() && index.column() == 0) {
                QString text = model_->CellText(index.row(), 0);
                int textWidth = table_->fontMetrics().horizontalAdvance(text) + table_->iconSize().width() + 8;
                if (textWidth >= table_->columnWidth(0) - 4) {
                    QToolTip::showText(help->globalPos(), TooltipText(text), table_->viewport(),
                                       table_->visualRect(index));
                    return true;
                }
            }
            QToolTip::hideText();
            return true;
        }
        break;
    default:
        break;
    }
    return QStackedWidget::eventFilter(watched, event);
}

} // namespace oriel
