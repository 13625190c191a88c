#include "ui/ItemListModel.h"

#include "app/StringTable.h"
#include "model/TextForms.h"
#include "ui/FileTypeIcons.h"

#include <QApplication>
#include <QBrush>
#include <QFont>
#include <QPalette>

#include <algorithm>
#include <cstring>
#include <string>

namespace oriel {

namespace {

int CompareBytes(const char* a, const char* b)
{
    int r = std::strcmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

QString FromBytes(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

QString FromText(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string Upper(std::string_view text)
{
    // Multibyte-aware: whole characters are upper-cased, not bytes.
    return QString::fromUtf8(text.data(), qsizetype(text.size())).toUpper().toStdString();
}

using SortKey = CCacheItemModel::SortKey;

// Also when column 0 shows paths: the order is the URLs'.
int CompareText(const SortKey& a, const SortKey& b)
{
    return CompareBytes(a.text, b.text);
}

// Rows without a text go first (ascending).
int CompareTextMissingFirst(const SortKey& a, const SortKey& b)
{
    if (!a.text)
        return b.text ? -1 : 0;
    if (!b.text)
        return 1;
    return CompareBytes(a.text, b.text);
}

// Rows without a text go after the others (ascending); two rows without one
// are equal, so that the order stays a strict one.
int CompareTextMissingLast(const SortKey& a, const SortKey& b)
{
    if (!a.text)
        return b.text ? 1 : 0;
    if (!b.text)
        return -1;
    return CompareBytes(a.text, b.text);
}

int CompareValue(const SortKey& a, const SortKey& b)
{
    return a.value < b.value ? -1 : (a.value > b.value ? 1 : 0);
}

QString UrlCell(const CCacheItemModel& model, CCacheItem* item)
{
    const char* text = model.Column0Source(item);
    const int32_t length = model.RootMode() ? item->GetURLLength() : item->GetURLPathLength();
    if (text && length > CCacheItemModel::kMaxColumn0Chars)
        return QString::fromUtf8(text, CCacheItemModel::kMaxColumn0Chars) + QStringLiteral("...");
    return FromBytes(text);
}

constexpr Qt::Alignment kLeft = Qt::AlignLeft | Qt::AlignVCenter;
constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;
using Widest = CCacheItemModel::Widest;

const CCacheItemModel::Column kColumns[CCacheItemModel::kColumnCount] = {
    {IDS_COL_URL, IDS_COL_FILE_PATH, "URL", "Path", 142, Widest::Title, kLeft,
     [](CCacheItem* item) { return SortKey{item->GetURL(), 0}; }, CompareText, UrlCell},
    {IDS_COL_NAME, IDS_COL_CACHE_NAME, "Name", "Name", 80, Widest::Title, kLeft,
     [](CCacheItem* item) { return SortKey{item->GetDisplayCacheName(), 0}; }, CompareTextMissingFirst,
     [](const CCacheItemModel&, CCacheItem* item) { return FromBytes(item->GetDisplayCacheName()); }},
    {IDS_COL_SIZE, IDS_COL_SIZE, "Size", "Size", 70, Widest::Size, kRight,
     [](CCacheItem* item) { return SortKey{nullptr, item->GetSize()}; }, CompareValue,
     [](const CCacheItemModel&, CCacheItem* item) { return FromText(item->GetSizeText()); }},
    {IDS_COL_TYPE, IDS_COL_TYPE, "Type", "Type", 60, Widest::Title, kLeft,
     [](CCacheItem* item) { return SortKey{item->GetContentType(), 0}; }, CompareTextMissingLast,
     [](const CCacheItemModel&, CCacheItem* item) { return FromBytes(item->GetContentType()); }},
    {IDS_COL_LAST_MODIFIED, IDS_COL_LAST_MODIFIED, "DateMod", "DateMod", 116, Widest::Time, kLeft,
     [](CCacheItem* item) { return SortKey{nullptr, item->GetLastModifiedSortTime()}; }, CompareValue,
     [](const CCacheItemModel&, CCacheItem* item) { return FromText(item->GetLastModifiedText()); }},
    {IDS_COL_DOWNLOADED, IDS_COL_DOWNLOADED, "DateDown", "DateDown", 116, Widest::Time, kLeft,
     [](CCacheItem* item) { return SortKey{nullptr, item->GetDownloaded()}; }, CompareValue,
     [](const CCacheItemModel&, CCacheItem* item) { return FromText(item->GetDownloadedText()); }},
    {IDS_COL_EXPIRES, IDS_COL_EXPIRES, "DateExpire", "DateExpire", 116, Widest::Time, kLeft,
     [](CCacheItem* item) { return SortKey{nullptr, item->GetExpires()}; }, CompareValue,
     [](const CCacheItemModel&, CCacheItem* item) { return FromText(item->GetExpiresText()); }},
};

// The rows' indexes in sorted order; equal rows keep their order. A column
// outside the table keeps the order as it is.
std::vector<uint32_t> SortedOrder(const std::vector<CCacheItemModel::Row>& rows, int column, bool ascending)
{
    struct Keyed {
        SortKey key;
        uint32_t row;
    };
    const CCacheItemModel::Column* entry = CCacheItemModel::ColumnAt(column);
    std::vector<Keyed> keyed(rows.size());
    for (size_t i = 0; i < rows.size(); ++i)
        keyed[i] = {entry ? entry->key(rows[i].item) : SortKey{}, uint32_t(i)};
    if (entry) {
        auto compare = entry->compare;
        std::stable_sort(keyed.begin(), keyed.end(), [compare, ascending](const Keyed& a, const Keyed& b) {
            const int r = compare(a.key, b.key);
            return ascending ? r < 0 : r > 0;
        });
    }
    std::vector<uint32_t> order(rows.size());
    for (size_t i = 0; i < keyed.size(); ++i)
        order[i] = keyed[i].row;
    return order;
}

} // namespace

const CCacheItemModel::Column* CCacheItemModel::ColumnAt(int column)
{
    return column >= 0 && column < kColumnCount ? &kColumns[column] : nullptr;
}

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

void CCacheItemModel::SetSortedRows(std::vector<Row> rows)
{
    if (HasSortState())
        SortRowVector(rows, sortColumn_, ascending_);
    SetRows(std::move(rows));
}

void CCacheItemModel::Clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

void CCacheItemModel::SetSortState(int column, bool ascending)
{
    sortColumn_ = column;
    ascending_ = ascending;
}

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
    SetSortState(column, ascending);
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

int CCacheItemModel::UpdateGoneRows(bool showMissing)
{
    std::vector<int> gone;
    for (int row = 0; row < RowCountInt(); ++row) {
        const Row& r = rows_[size_t(row)];
        if (!r.missing && r.item && !r.item->Exists())
            gone.push_back(row);
    }
    // One change for all rows: row by row, 100,000 rows cost a removal
    // (and a repaint) each.
    if (showMissing)
        MarkMissing(gone);
    else
        RemoveRows(gone);
    return int(gone.size());
}

bool CCacheItemModel::IsMissing(int row) const
{
    return row >= 0 && row < RowCountInt() && rows_[size_t(row)].missing;
}

void CCacheItemModel::MarkMissing(const std::vector<int>& rows)
{
    int first = -1;
    int last = -1;
    for (int row : rows) {
        if (row < 0 || row >= RowCountInt())
            continue;
        rows_[size_t(row)].missing = true;
        first = first < 0 ? row : std::min(first, row);
        last = std::max(last, row);
    }
    if (first >= 0)
        emit dataChanged(index(first, 0), index(last, kColumnCount - 1));
}

void CCacheItemModel::RemoveRows(const std::vector<int>& rows)
{
    // Runs of neighbouring rows, from the last, so that earlier indexes hold.
    std::vector<std::pair<int, int>> runs;
    for (int row : rows) {
        if (row < 0 || row >= RowCountInt())
            continue;
        if (!runs.empty() && runs.back().second + 1 == row)
            runs.back().second = row;
        else if (runs.empty() || row > runs.back().second)
            runs.push_back({row, row});
    }
    if (runs.empty())
        return;
    constexpr size_t kMaxRuns = 64;
    if (runs.size() <= kMaxRuns) {
        for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
            beginRemoveRows(QModelIndex(), run->first, run->second);
            rows_.erase(rows_.begin() + run->first, rows_.begin() + run->second + 1);
            endRemoveRows();
        }
        return;
    }
    std::vector<bool> gone(rows_.size(), false);
    for (const auto& run : runs) {
        for (int row = run.first; row <= run.second; ++row)
            gone[size_t(row)] = true;
    }
    beginResetModel();
    size_t kept = 0;
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (!gone[row])
            rows_[kept++] = rows_[row];
    }
    rows_.resize(kept);
    endResetModel();
}

const char* CCacheItemModel::Column0Source(CCacheItem* item) const
{
    return rootMode_ ? item->GetURL() : item->GetURLPath();
}

QString CCacheItemModel::CellText(int row, int column) const
{
    CCacheItem* item = ItemAt(row);
    const Column* entry = ColumnAt(column);
    return item && entry ? entry->text(*this, item) : QString();
}

int CCacheItemModel::CompareItems(CCacheItem* a, CCacheItem* b, int column)
{
    const Column* entry = ColumnAt(column);
    return entry ? entry->compare(entry->key(a), entry->key(b)) : 0;
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
    const Column* entry = ColumnAt(column);
    if (!entry)
        return 0;
    return root ? entry->rootTitleId : entry->serverTitleId;
}

const char* CCacheItemModel::WidthKey(bool root, int column)
{
    const Column* entry = ColumnAt(column);
    if (!entry)
        return nullptr;
    return root ? entry->rootWidthKey : entry->serverWidthKey;
}

int CCacheItemModel::DefaultWidth(int column)
{
    const Column* entry = ColumnAt(column);
    return entry ? entry->defaultWidth : 0;
}

QString CCacheItemModel::WidestText(int column)
{
    const Column* entry = ColumnAt(column);
    if (!entry)
        return {};
    switch (entry->widest) {
    case Widest::Title:
        return {};
    case Widest::Size:
        return QString::fromStdString(FormatSize(4294967295LL));
    case Widest::Time:
        // Two-digit month, day and hour: 12/28/2026 10:58:58 PM.
        return QString::fromStdString(FormatDate(1798498738));
    }
    return {};
}

bool CCacheItemModel::IsTimeColumn(int column)
{
    const Column* entry = ColumnAt(column);
    return entry && entry->widest == Widest::Time;
}

int CCacheItemModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : RowCountInt();
}

int CCacheItemModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QColor CCacheItemModel::RecoveredColor()
{
    // A dark amber, apart from the ghosted grey of missing files.
    return QColor(0xB0, 0x5A, 0x00);
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
            int32_t icon = row.item->GetTypeIcon(*icons_);
            return row.missing ? icons_->GhostIcon(icon) : icons_->Icon(icon);
        }
        return {};
    case Qt::ForegroundRole:
        if (row.missing)
            return QApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        if (row.item->IsRecovered())
            return QBrush(RecoveredColor());
        return {};
    case Qt::FontRole:
        // Recovered rows are told apart also when their body is missing
        // (and so ghosted).
        if (row.item->IsRecovered()) {
            QFont font;
            font.setItalic(true);
            return font;
        }
        return {};
    case Qt::TextAlignmentRole:
        if (const Column* entry = ColumnAt(index.column()))
            return int(entry->alignment);
        return int(kLeft);
    }
    return {};
}

QVariant CCacheItemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(LoadString(ColumnTitleId(rootMode_, section)));
    if (role == Qt::TextAlignmentRole) {
        const Column* entry = ColumnAt(section);
        return int(entry ? entry->alignment : kLeft);
    }
    // The times are UTC; the title says what, the tooltip in which zone.
    if (role == Qt::ToolTipRole && IsTimeColumn(section))
        return QString::fromUtf8(LoadString(IDS_TIMES_UTC));
    // A first click sorts ascending.
    if (role == Qt::InitialSortOrderRole)
        return int(Qt::AscendingOrder);
    return {};
}

} // namespace oriel
