// The item list's model: one row per cached item (pointers only, the cache
// owns the items), every cell computed from the item when it is drawn, and
// the sort column and order of the list. What each column shows, how it
// sorts, its title and its width option come from one column table.
#pragma once

#include "ui/Document.h"

#include <QAbstractTableModel>
#include <QColor>

#include <cstdint>
#include <string_view>
#include <vector>

namespace oriel {

class CFileTypeIcons;

class CCacheItemModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 7;
    // Column 0 shows at most this many characters, then "...".
    static constexpr int32_t kMaxColumn0Chars = 250;

    struct Row {
        CCacheItem* item;
        bool missing; // the body has gone: the row is drawn ghosted
    };

    // What a sort compares, taken from each row's item once: the comparison,
    // made a couple of million times for 100,000 rows, then reads no item
    // (and calls no virtual function).
    struct SortKey {
        const char* text = nullptr;
        int64_t value = 0;
    };

    // What the widest cell of a column looks like, for its default width.
    enum class Widest {
        Title, // the title is enough (texts of any length are cut)
        Size,  // the largest size
        Time,  // a full date and time (shown in UTC)
    };

    // One column of the list.
    struct Column {
        int rootTitleId;        // title while a profile is shown
        int serverTitleId;      // title while a server is shown
        const char* rootWidthKey;   // "ColumnWidths" option keys, by the same modes
        const char* serverWidthKey;
        int defaultWidth;
        Widest widest;
        Qt::Alignment alignment;
        SortKey (*key)(CCacheItem* item);
        // -1, 0 or 1 for the ascending order of two keys.
        int (*compare)(const SortKey& a, const SortKey& b);
        QString (*text)(const CCacheItemModel& model, CCacheItem* item);
    };
    // The column table; null outside 0 to kColumnCount - 1.
    static const Column* ColumnAt(int column);
    // The text colour of recovered rows (and of the tree's "<Recovered>"
    // node); their text is also italic.
    static QColor RecoveredColor();

    explicit CCacheItemModel(QObject* parent = nullptr);

    void SetIcons(CFileTypeIcons* icons) { icons_ = icons; }
    // Root mode: a profile is shown ("URL", "Name"); otherwise a server
    // ("File Path", "Cache Name").
    void SetRootMode(bool root);
    bool RootMode() const { return rootMode_; }

    // Replaces all rows in one reset, in the order given.
    void SetRows(std::vector<Row> rows);
    // Sorts the rows by the model's sort state, then replaces all rows in
    // one reset.
    void SetSortedRows(std::vector<Row> rows);
    void Clear();

    // The sort state: column 0 to 6, or -1 while none has been chosen.
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return ascending_; }
    bool HasSortState() const { return sortColumn_ >= 0; }
    // Sets the sort state without sorting (the next fill sorts by it).
    void SetSortState(int column, bool ascending);
    // Sets the sort state and sorts the rows in place (a layout change; the
    // selection follows). A column outside the table keeps the order.
    void SortRows(int column, bool ascending);
    static void SortRowVector(std::vector<Row>& rows, int column, bool ascending);

    // After files were moved out or deleted: every row whose item's body
    // is gone is ghosted (showMissing) or removed. Returns how many rows
    // changed.
    int UpdateGoneRows(bool showMissing);

    int RowCountInt() const { return int(rows_.size()); }
    CCacheItem* ItemAt(int row) const;
    bool IsMissing(int row) const;
    // Marks the rows (ascending) as missing: they are drawn ghosted.
    void MarkMissing(const std::vector<int>& rows);
    // Removes the rows (ascending). Few runs of neighbouring rows are
    // removed run by run, so that the selection of the others stays; many
    // scattered rows in one reset.
    void RemoveRows(const std::vector<int>& rows);

    // Column 0's source: the URL in root mode, the URL path otherwise.
    const char* Column0Source(CCacheItem* item) const;
    // The text a cell shows; column 0 cut to 250 characters and "...".
    QString CellText(int row, int column) const;

    // -1, 0 or 1 for the ascending order of column `column` (0 URL, 1 cache
    // name, 2 size, 3 type, 4 last modified, 5 downloaded, 6 expires).
    static int CompareItems(CCacheItem* a, CCacheItem* b, int column);

    // The first row from `start` whose column-0 source contains `text`;
    // then, with wrap, from row 0 up to `start`. -1 when none.
    int FindItem(std::string_view text, bool matchCase, bool wrap, int start) const;

    // Column titles (string ids), option keys and default widths.
    static int ColumnTitleId(bool root, int column);
    static const char* WidthKey(bool root, int column);
    static int DefaultWidth(int column);
    // The text of the widest cell the column can show, empty when the title
    // decides (see Widest).
    static QString WidestText(int column);
    // The column shows times, in UTC.
    static bool IsTimeColumn(int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<Row> rows_;
    bool rootMode_ = true;
    int sortColumn_ = -1;
    bool ascending_ = true;
    CFileTypeIcons* icons_ = nullptr;
};

} // namespace oriel
