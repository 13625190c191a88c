#include "ui/CacheListView.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/WindowLog.h"
#include "ui/CacheFrame.h"
#include "ui/FileTypeIcons.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPalette>
#include <QTableView>
#include <QToolTip>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

namespace oriel {

namespace {

int CompareBytes(const char* a, const char* b)
{
    int r = std::strcmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

template <typename T>
int CompareValues(T a, T b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

QString FromBytes(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

std::string Upper(std::string_view text)
{
    // Multibyte-aware: whole characters are upper-cased, not bytes.
    return QString::fromUtf8(text.data(), qsizetype(text.size())).toUpper().toStdString();
}

} // namespace

// ---------------------------------------------------------------------------
// CCacheItemModel

CCacheItemModel::CCacheItemModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

void CCacheItemModel::SetRootMode(bool root)
{
    if (root == rootMode_)
        return;
    rootMode_ = root;
    emit headerDataChanged(Qt::Horizontal, 0, 1);
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(RowCountInt() - 1, 1));
}

void CCacheItemModel::SetRows(std::vector<Row> rows)
{
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void CCacheItemModel::Clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

namespace {

// What a sort compares, taken from each row's item once: the comparison,
// made a couple of million times for 100,000 rows, then reads no item
// (and calls no virtual function).
struct SortKey {
    const char* text = nullptr;
    int64_t value = 0;
};

SortKey KeyOf(CCacheItem* item, int column)
{
    switch (column) {
    case 0:
        return {item->GetURL(), 0};
    case 1:
        return {item->GetDisplayCacheName(), 0};
    case 2:
        return {nullptr, item->GetSize()};
    case 3:
        return {item->GetContentType(), 0};
    case 4:
        return {nullptr, item->GetLastModified()};
    case 5:
        return {nullptr, item->GetDownloaded()};
    case 6:
        return {nullptr, item->GetExpires()};
    }
    return {};
}

int CompareKeys(const SortKey& a, const SortKey& b, int column)
{
    switch (column) {
    case 0:
        // Also when column 0 shows paths: the order is the URLs'.
        return CompareBytes(a.text, b.text);
    case 1:
        if (!a.text)
            return b.text ? -1 : 0;
        if (!b.text)
            return 1;
        return CompareBytes(a.text, b.text);
    case 3:
        // Rows without a type go after typed rows (ascending); two rows
        // without one are equal, so that the order stays a strict one.
        if (!a.text)
            return b.text ? 1 : 0;
        if (!b.text)
            return -1;
        return CompareBytes(a.text, b.text);
    case 2:
    case 4:
    case 5:
    case 6:
        return CompareValues(a.value, b.value);
    }
    return 0;
}

// The rows' indexes in sorted order; equal rows keep their order.
std::vector<uint32_t> SortedOrder(const std::vector<CCacheItemModel::Row>& rows, int column, bool ascending)
{
    struct Keyed {
        SortKey key;
        uint32_t row;
    };
    std::vector<Keyed> keyed(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        keyed[i] = {KeyOf(rows[i].item, column), uint32_t(i)};
    std::stable_sort(keyed.begin(), keyed.end(), [column, ascending](const Keyed& a, const Keyed& b) {
        int r = CompareKeys(a.key, b.key, column);
        return ascending ? r < 0 : r > 0;
    });
    std::vector<uint32_t> order(rows.size());
    for (size_t i = 0; i < keyed.size(); ++i)
        order[i] = keyed[i].row;
    return order;
}

} // namespace

void CCacheItemModel::SortRowVector(std::vector<Row>& rows, int column, bool ascending)
{
    const std::vector<uint32_t> order = SortedOrder(rows, column, ascending);
    std::vector<Row> sorted;
    sorted.reserve(rows.size());
    for (uint32_t i : order)
        sorted.push_back(rows[i]);
    rows = std::move(sorted);
}

void CCacheItemModel::SortRows(int column, bool ascending)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const size_t n = rows_.size();
    const std::vector<uint32_t> order = SortedOrder(rows_, column, ascending);
    std::vector<Row> sorted;
    sorted.reserve(n);
    std::vector<int> newRowOf(n);
    for (size_t i = 0; i < n; ++i) {
        sorted.push_back(rows_[order[i]]);
        newRowOf[order[i]] = int(i);
    }
    rows_ = std::move(sorted);
    // The selection and the current row stay on their items.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& idx : before)
        after.append(index(newRowOf[size_t(idx.row())], idx.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

CCacheItem* CCacheItemModel::ItemAt(int row) const
{
    return row >= 0 && row < RowCountInt() ? rows_[size_t(row)].item : nullptr;
}

bool CCacheItemModel::IsMissing(int row) const
{
    return row >= 0 && row < RowCountInt() && rows_[size_t(row)].missing;
}

const char* CCacheItemModel::Column0Source(CCacheItem* item) const
{
    return rootMode_ ? item->GetURL() : item->GetURLPath();
}

QString CCacheItemModel::CellText(int row, int column) const
{
    CCacheItem* item = ItemAt(row);
    if (!item)
        return {};
    switch (column) {
    case 0: {
        const char* text = Column0Source(item);
        int32_t length = rootMode_ ? item->GetURLLength() : item->GetURLPathLength();
        if (text && length > kMaxColumn0Chars)
            return QString::fromUtf8(text, kMaxColumn0Chars) + QStringLiteral("...");
        return FromBytes(text);
    }
    case 1:
        return FromBytes(item->GetDisplayCacheName());
    case 2:
        return QString::fromStdString(item->GetSizeText());
    case 3:
        return FromBytes(item->GetContentType());
    case 4:
        return QString::fromStdString(item->GetLastModifiedText());
    case 5:
        return QString::fromStdString(item->GetDownloadedText());
    case 6:
        return QString::fromStdString(item->GetExpiresText());
    }
    return {};
}

int CCacheItemModel::CompareItems(CCacheItem* a, CCacheItem* b, int column)
{
    return CompareKeys(KeyOf(a, column), KeyOf(b, column), column);
}

int CCacheItemModel::FindItem(std::string_view text, bool matchCase, bool wrap, int start) const
{
    if (start < 0)
        start = 0;
    const std::string needle = matchCase ? std::string(text) : Upper(text);
    auto matches = [&](int row) {
        const char* source = Column0Source(rows_[size_t(row)].item);
        if (!source)
            return false;
        if (matchCase)
            return std::string_view(source).find(needle) != std::string_view::npos;
        return Upper(source).find(needle) != std::string::npos;
    };
    for (int row = start; row < RowCountInt(); ++row) {
        if (matches(row))
            return row;
    }
    if (wrap) {
        for (int row = 0; row < start && row < RowCountInt(); ++row) {
            if (matches(row))
                return row;
        }
    }
    return -1;
}

int CCacheItemModel::ColumnTitleId(bool root, int column)
{
    static const int kRoot[kColumnCount] = {IDS_COL_URL, IDS_COL_NAME, IDS_COL_SIZE, IDS_COL_TYPE,
                                            IDS_COL_LAST_MODIFIED, IDS_COL_DOWNLOADED, IDS_COL_EXPIRES};
    static const int kStd[kColumnCount] = {IDS_COL_FILE_PATH, IDS_COL_CACHE_NAME, IDS_COL_SIZE, IDS_COL_TYPE,
                                           IDS_COL_LAST_MODIFIED, IDS_COL_DOWNLOADED, IDS_COL_EXPIRES};
    if (column < 0 || column >= kColumnCount)
        return 0;
    return root ? kRoot[column] : kStd[column];
}

const char* CCacheItemModel::WidthKey(bool root, int column)
{
    static const char* const kKeys[kColumnCount] = {"URL", "Name", "Size", "Type", "DateMod", "DateDown",
                                                    "DateExpire"};
    if (column < 0 || column >= kColumnCount)
        return nullptr;
    if (column == 0)
        return root ? "URL" : "Path";
    return kKeys[column];
}

int CCacheItemModel::DefaultWidth(int column)
{
    static const int kWidths[kColumnCount] = {142, 80, 70, 60, 116, 116, 116};
    return column >= 0 && column < kColumnCount ? kWidths[column] : 0;
}

int CCacheItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : RowCountInt();
}

int CCacheItemModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CCacheItemModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= RowCountInt())
        return {};
    const Row& row = rows_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return CellText(index.row(), index.column());
    case Qt::DecorationRole:
        if (index.column() == 0 && icons_) {
            int32_t icon = row.item->GetTypeIcon();
            return row.missing ? icons_->GhostIcon(icon) : icons_->Icon(icon);
        }
        return {};
    case Qt::ForegroundRole:
        if (row.missing)
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == 2)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant CCacheItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(LoadString(ColumnTitleId(rootMode_, section)));
    if (role == Qt::TextAlignmentRole)
        return int((section == 2 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    // A first click sorts ascending.
    if (role == Qt::InitialSortOrderRole)
        return int(Qt::AscendingOrder);
    return {};
}

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
        if (IsRootMode()) {
            if (sourceKind_ == Source::Profile)
                ShowItems(sourceProfile_);
        } else if (sourceKind_ == Source::Server) {
            ShowItems(sourceServer_);
        }
        break;
    case CACHE_EMPTY:
        Trace("      - lHint = ViewHintEnum::CACHE_EMPTY");
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
        int width = store.ReadInt("ColumnWidths", CCacheItemModel::WidthKey(root, column),
                                  CCacheItemModel::DefaultWidth(column));
        table_->setColumnWidth(column, width);
    }
    applyingColumns_ = false;
    columnSet_ = set;
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
        std::vector<CNamedCacheItemArray*> groups;
        for (int32_t i = 0; i < cache->GetGroupCount(); ++i)
            groups.push_back(cache->GetGroup(i));
        Fill(groups, cache->GetItemCount());
    } else {
        frame_.UpdateStatusText();
    }
    Trace("Exit - CCacheListView::ShowItems(BrowserProfile *profile)");
}

namespace {

// Takes every item's Exists once (a stat of its body each, most of a
// fill's time), on several threads for a large list: each item is checked
// by one thread only and its answer kept in the item's own fields. The
// progress moves on the window's thread as chunks finish.
std::vector<char> CheckExistence(const std::vector<CCacheItem*>& items, Progress& progress)
{
    constexpr size_t kChunk = 512;
    std::vector<char> present(items.size(), 0);
    std::atomic<size_t> nextChunk{0};
    std::atomic<size_t> done{0};
    // Checks the next chunk; false when none is left.
    auto checkChunk = [&] {
        const size_t first = nextChunk.fetch_add(1) * kChunk;
        if (first >= items.size())
            return false;
        const size_t last = std::min(items.size(), first + kChunk);
        for (size_t i = first; i < last; ++i)
            present[i] = items[i] && items[i]->Exists();
        done.fetch_add(last - first);
        return true;
    };
    const size_t helpers = items.size() < 8 * kChunk ? 0 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4) - 1;
    std::vector<std::thread> threads;
    try {
        for (size_t t = 0; t < helpers; ++t)
            threads.emplace_back([&checkChunk] {
                while (checkChunk()) {
                }
            });
    } catch (const std::system_error&) {
        // No thread to be had: the window's thread does the rest alone.
    }
    // The window's thread checks chunks too, and shows how far all have got.
    while (checkChunk())
        progress.SetPos(int32_t(done.load()));
    for (std::thread& thread : threads)
        thread.join();
    progress.SetPos(int32_t(items.size()));
    return present;
}

} // namespace

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
    const std::vector<char> present = CheckExistence(items, progress);
    std::vector<CCacheItemModel::Row> rows;
    rows.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i] && (present[i] || showMissing))
            rows.push_back({items[i], !present[i]});
    }
    // Rows were inserted at the top, one by one: the newest first, and the
    // sort that follows keeps that order among equal keys.
    std::reverse(rows.begin(), rows.end());
    if (sortColumn_ == -1) {
        OptionStore& store = OptionStore::Instance();
        sortColumn_ = store.ReadInt("Options", "SortColumn", 0);
        ascending_ = store.ReadInt("Options", "SortOrder", 1) != 0;
    }
    CCacheItemModel::SortRowVector(rows, sortColumn_, ascending_);
    model_->SetRows(std::move(rows));
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
    if (sortColumn_ >= 0 && sortColumn_ < CCacheItemModel::kColumnCount) {
        header->setSortIndicatorShown(true);
        header->setSortIndicator(sortColumn_, ascending_ ? Qt::AscendingOrder : Qt::DescendingOrder);
    } else {
        header->setSortIndicatorShown(false);
    }
}

void CCacheListView::SortByColumn(int column, bool ascending)
{
    sortColumn_ = column;
    ascending_ = ascending;
    ShowHeaderSortState();
    model_->SortRows(sortColumn_, ascending_);
}

void CCacheListView::ReSort()
{
    model_->SortRows(sortColumn_, ascending_);
}

void CCacheListView::OnHeaderClicked(int column)
{
    if (column == sortColumn_ && ascending_)
        SortByColumn(column, false);
    else
        SortByColumn(column, true);
    frame_.SetSortColumn(column);
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
    document_.UpdateAllViews(this, CACHE_NOCHANGE, CUpdateHint::ForItem(first));
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
