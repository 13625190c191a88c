// The item list: the cached items of the server or profile chosen in the
// tree, in details (a table), large icons, small icons or list style over
// one model (ui/ItemListModel.h) and one selection.
#pragma once

#include "ui/Document.h"
#include "ui/ItemListModel.h"

#include <QStackedWidget>

#include <cstdint>
#include <string_view>
#include <vector>

class QAbstractItemView;
class QListView;
class QTableView;

namespace oriel {

class CCacheFrame;

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

    // Sorts by the column (the model keeps the sort state); clears auto
    // arrange.
    void SortByColumn(int column, bool ascending);
    void ReSort();
    // -1 until the first fill or sort.
    int SortColumn() const { return model_->SortColumn(); }
    bool SortAscending() const { return model_->SortAscending(); }
    // A click on a column header in details style.
    void OnHeaderClicked(int column);

    int FindItem(std::string_view text, bool matchCase, bool wrap, int start) const;

    // 0 to 3 (anything else counts as details); details clears auto
    // arrange.
    void SetViewStyle(int style);
    int GetViewStyle() const { return viewStyle_; }
    // Lays the icons out again now.
    void ArrangeIcons();
    // The auto arrange flag of the icon styles; never set in details style.
    bool AutoArrange() const { return autoArrange_; }
    void SetAutoArrange(bool on);

    int GetItemCount() const;
    int GetSelectedCount() const;
    // Selected rows in list order.
    std::vector<int> SelectedRows() const;
    std::vector<CCacheItem*> SelectedItems() const;
    // The items of the selected rows not marked missing, in list order.
    std::vector<CCacheItem*> SelectedPresentItems() const;
    // After items were removed from disk: every selected row not already
    // marked missing whose item no longer exists is marked missing (with
    // missing files shown) or removed from the list. Returns how many rows
    // changed.
    int ReviewSelectedRows(bool showMissing);
    int64_t SizeSum(bool selectedOnly) const;
    void SelectAll();
    void InvertSelection();
    // A selection change by the user: status text, then hint 1 with the
    // first selected item.
    void ReportSelectionChange();
    // The item the lower panes were last told to show (null for none).
    CCacheItem* ShownItem() const { return shownItem_; }
    // The profile is chosen, has a cache, and that cache is not decoded
    // (and was not just emptied, which leaves nothing to decode for).
    bool ShowsUndecoded(BrowserProfile* profile) const;

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
    // A column's width without a stored one: its title and its widest cell
    // fit, and never less than the column table's width.
    int DefaultColumnWidth(int column) const;
    void OnSectionResized(int column, int oldWidth, int newWidth);
    void Fill(const std::vector<CNamedCacheItemArray*>& groups, int32_t total);
    void ShowHeaderSortState();
    // After rows went (a new fill, a removal): the lower panes are cleared
    // when the item they show is no longer in the list.
    void ForgetShownItemIfGone();

    CCacheFrame& frame_;
    CCacheDocument& document_;
    CCacheItemModel* model_;
    QTableView* table_;
    QListView* list_;
    ColumnSet columnSet_ = ColumnSet::None;
    Source sourceKind_ = Source::None;
    CNamedCacheItemArray* sourceServer_ = nullptr;
    BrowserProfile* sourceProfile_ = nullptr;
    // Compared, never dereferenced: the item may have been destroyed.
    CCacheItem* shownItem_ = nullptr;
    BrowserProfile* emptiedProfile_ = nullptr;
    int viewStyle_ = kDetails;
    bool autoArrange_ = false;
    bool applyingColumns_ = false;
};

} // namespace oriel
