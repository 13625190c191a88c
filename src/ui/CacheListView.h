// The item list: the cached items of the server or profile chosen in the
// tree, in details (a table), large icons, small icons or list style over
// one model and one selection. The model holds item pointers only; every
// cell is computed from the item when it is drawn.
#pragma once

#include "ui/Document.h"

#include <QAbstractTableModel>
#include <QStackedWidget>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QAbstractItemView;
class QListView;
class QTableView;

namespace oriel {

class CCacheFrame;
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

    explicit CCacheItemModel(QObject* parent = nullptr);

    void SetIcons(const CFileTypeIcons* icons) { icons_ = icons; }
    // Root mode: a profile is shown ("URL", "Name"); otherwise a server
    // ("File Path", "Cache Name").
    void SetRootMode(bool root);
    bool RootMode() const { return rootMode_; }

    // Replaces all rows in one reset.
    void SetRows(std::vector<Row> rows);
    void Clear();
    // Sorts the rows in place (a layout change; the selection follows).
    void SortRows(int column, bool ascending);
    static void SortRowVector(std::vector<Row>& rows, int column, bool ascending);

    int RowCountInt() const { return int(rows_.size()); }
    CCacheItem* ItemAt(int row) const;
    bool IsMissing(int row) const;

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

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<Row> rows_;
    bool rootMode_ = true;
    const CFileTypeIcons* icons_ = nullptr;
};

class CCacheListView : public QStackedWidget, public CView {
    Q_OBJECT
public:
    // The list control's view styles.
    enum ViewStyle { kLargeIcons = 0, kDetails = 1, kSmallIcons = 2, kList = 3 };

    CCacheListView(CCacheFrame& frame, CCacheDocument& document, QWidget* parent = nullptr);
    ~CCacheListView() override;

    void OnInitialUpdate() override;
    void OnUpdate(CView* sender, int32_t hint, CUpdateHint* hintObject) override;

    void AddRootColumns();
    void AddStdColumns();
    bool IsRootMode() const { return columnSet_ == ColumnSet::Root; }
    void ShowItems(CNamedCacheItemArray* server);
    void ShowItems(BrowserProfile* profile);
    void DeleteAllItems();

    void SortByColumn(int column, bool ascending);
    void ReSort();
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return ascending_; }
    // A click on a column header in details style.
    void OnHeaderClicked(int column);

    int FindItem(std::string_view text, bool matchCase, bool wrap, int start) const;

    void SetViewStyle(int style);
    int GetViewStyle() const { return viewStyle_; }
    // Lays the icons out again now (the "Auto Arrange" command).
    void ArrangeIcons();

    int GetItemCount() const;
    int GetSelectedCount() const;
    // Selected rows in list order.
    std::vector<int> SelectedRows() const;
    std::vector<CCacheItem*> SelectedItems() const;
    int64_t SizeSum(bool selectedOnly) const;
    void SelectAll();
    void InvertSelection();
    // A selection change by the user: status text, then hint 1 with the
    // first selected item.
    void ReportSelectionChange();

    // The text the tooltip of a column-0 cell shows: at most 76 characters
    // and "...".
    static QString TooltipText(const QString& column0Text);
    // Width of the list style's column: the widest column-0 text.
    int ListColumnWidth() const;

    CCacheItemModel* Model() const { return model_; }
    QTableView* Table() const { return table_; }
    QListView* IconList() const { return list_; }
    QAbstractItemView* CurrentView() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class ColumnSet { None, Root, Std };
    enum class Source { None, Server, Profile };

    void ApplyColumns(ColumnSet set);
    void OnSectionResized(int column, int oldWidth, int newWidth);
    void Fill(const std::vector<CNamedCacheItemArray*>& groups, int32_t total);
    void ShowHeaderSortState();

    CCacheFrame& frame_;
    CCacheDocument& document_;
    CCacheItemModel* model_;
    QTableView* table_;
    QListView* list_;
    ColumnSet columnSet_ = ColumnSet::None;
    Source sourceKind_ = Source::None;
    CNamedCacheItemArray* sourceServer_ = nullptr;
    BrowserProfile* sourceProfile_ = nullptr;
    int sortColumn_ = -1;
    bool ascending_ = true;
    int viewStyle_ = kDetails;
    bool applyingColumns_ = false;
};

} // namespace oriel
