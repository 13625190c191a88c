// The item list's model: sorting order of every column, the column-0 text
// limits, and the search the Find dialog uses.
#include "ui/CacheListView.h"

#include "UiTestSupport.h"

#include <QItemSelectionModel>
#include <QSignalSpy>

using namespace oriel;
using namespace oriel::test;

namespace {

struct Item {
    const char* url;
    const char* cacheName;
    const char* type;
    int32_t size;
    int64_t modified;
};

std::unique_ptr<CFileCacheItem> MakeItem(FakeCache& cache, const Item& setup)
{
    auto parts = SplitUrl(setup.url);
    std::string path = parts ? std::string(parts->path) : std::string();
    return std::make_unique<CFileCacheItem>(&cache, 0, setup.url, path,
                                            setup.cacheName ? OptText(setup.cacheName) : OptText(),
                                            setup.type ? OptText(setup.type) : OptText(), setup.size, setup.modified,
                                            setup.modified + 1, setup.modified + 2);
}

std::vector<CCacheItemModel::Row> Rows(const std::vector<std::unique_ptr<CFileCacheItem>>& items)
{
    std::vector<CCacheItemModel::Row> rows;
    for (const auto& item : items)
        rows.push_back({item.get(), false});
    return rows;
}

QStringList Urls(const CCacheItemModel& model)
{
    QStringList urls;
    for (int row = 0; row < model.RowCountInt(); ++row)
        urls << QString::fromUtf8(model.ItemAt(row)->GetURL());
    return urls;
}

} // namespace

class ListModelTest : public QObject {
    Q_OBJECT
private slots:
    void SortingOrdersRowsByEachColumnAsTheListDoes_data();
    void SortingOrdersRowsByEachColumnAsTheListDoes();
    void EqualKeysKeepTheirOrderWhenSorted();
    void DatesKeptAsHttpDateTextSortByTheTimeTheyDenote();
    void SortingKeepsTheSelectionOnTheSameItems();
    void ColumnZeroShows250CharactersAndAnEllipsis();
    void ColumnZeroShowsPathsInServerModeButSortsByUrl();
    void TooltipTextIsCutAt76Characters();
    void FindMatchesSubstringsWithOrWithoutCase_data();
    void FindMatchesSubstringsWithOrWithoutCase();
    void TheColumnTableGivesTitlesWidthKeysWidthsAndAlignment_data();
    void TheColumnTableGivesTitlesWidthKeysWidthsAndAlignment();
    void TheModelKeepsTheSortStateAndAFillSortsInOneReset();
};

void ListModelTest::SortingOrdersRowsByEachColumnAsTheListDoes_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QStringList>("expected");
    // The items (see the test): a: name "n2", type text/html, 30 bytes, t=300
    //                           b: no name, type image/gif, 10 bytes, t=100
    //                           c: name "n1", no type, 20 bytes, t=200
    //                           d: name "N9", type "Image/png", 5 bytes, t=-5
    const QString a = "http://h/a", b = "http://h/B", c = "http://h/c", d = "http://g/d";
    QTest::newRow("url ascending, bytewise") << 0 << true << QStringList{d, b, a, c};
    QTest::newRow("url descending") << 0 << false << QStringList{c, a, b, d};
    QTest::newRow("cache name: rows without a name first") << 1 << true << QStringList{b, d, c, a};
    QTest::newRow("cache name descending: without a name last") << 1 << false << QStringList{a, c, d, b};
    QTest::newRow("size ascending") << 2 << true << QStringList{d, b, c, a};
    QTest::newRow("size descending") << 2 << false << QStringList{a, c, b, d};
    QTest::newRow("type: rows without a type last") << 3 << true << QStringList{d, b, a, c};
    QTest::newRow("type descending: without a type first") << 3 << false << QStringList{c, a, b, d};
    QTest::newRow("last modified, signed") << 4 << true << QStringList{d, b, c, a};
    QTest::newRow("downloaded") << 5 << false << QStringList{a, c, b, d};
    QTest::newRow("expires") << 6 << true << QStringList{d, b, c, a};
    QTest::newRow("no column: order kept") << -1 << true << QStringList{a, b, c, d};
}

void ListModelTest::SortingOrdersRowsByEachColumnAsTheListDoes()
{
    QFETCH(int, column);
    QFETCH(bool, ascending);
    QFETCH(QStringList, expected);
    FakeCache cache;
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    items.push_back(MakeItem(cache, {"http://h/a", "n2", "text/html", 30, 300}));
    items.push_back(MakeItem(cache, {"http://h/B", nullptr, "image/gif", 10, 100}));
    items.push_back(MakeItem(cache, {"http://h/c", "n1", nullptr, 20, 200}));
    items.push_back(MakeItem(cache, {"http://g/d", "N9", "Image/png", 5, -5}));
    CCacheItemModel model;
    model.SetRows(Rows(items));
    model.SortRows(column, ascending);
    QCOMPARE(Urls(model), expected);
}

void ListModelTest::EqualKeysKeepTheirOrderWhenSorted()
{
    FakeCache cache;
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    for (const char* url : {"http://h/3", "http://h/1", "http://h/2", "http://h/0"})
        items.push_back(MakeItem(cache, {url, "x", "text/plain", 7, 0}));
    CCacheItemModel model;
    model.SetRows(Rows(items));
    model.SortRows(2, true);
    QCOMPARE(Urls(model), (QStringList{"http://h/3", "http://h/1", "http://h/2", "http://h/0"}));
    model.SortRows(2, false);
    QCOMPARE(Urls(model), (QStringList{"http://h/3", "http://h/1", "http://h/2", "http://h/0"}));
}

void ListModelTest::DatesKeptAsHttpDateTextSortByTheTimeTheyDenote()
{
    // Opera keeps the last-modified date as the HTTP text it was sent.
    FakeCache cache;
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    const char* texts[] = {"Tue, 15 Nov 1994 08:12:31 GMT", "Mon, 01 Jan 2001 00:00:00 GMT",
                           "Sunday, 06-Nov-94 08:49:37 GMT", "not a date", "Wed Feb  3 10:00:00 1999"};
    for (const char* text : texts) {
        items.push_back(MakeItem(cache, {text, "x", "text/plain", 1, 0}));
        items.back()->SetLastModifiedText(std::string_view(text));
    }
    CCacheItemModel model;
    model.SetRows(Rows(items));
    model.SortRows(4, true);
    QCOMPARE(Urls(model), (QStringList{"not a date", "Sunday, 06-Nov-94 08:49:37 GMT", "Tue, 15 Nov 1994 08:12:31 GMT",
                                       "Wed Feb  3 10:00:00 1999", "Mon, 01 Jan 2001 00:00:00 GMT"}));
    // The texts are shown as stored.
    QCOMPARE(QString::fromStdString(items[2]->GetLastModifiedText()), QString("Sunday, 06-Nov-94 08:49:37 GMT"));
}

void ListModelTest::SortingKeepsTheSelectionOnTheSameItems()
{
    FakeCache cache;
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    for (int i = 0; i < 50; ++i)
        items.push_back(MakeItem(cache, {"http://h/x", nullptr, nullptr, 50 - i, 0}));
    CCacheItemModel model;
    model.SetRows(Rows(items));
    QItemSelectionModel selection(&model);
    selection.select(model.index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection.select(model.index(40, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    model.SortRows(2, true); // sizes ascending: row i holds the item of size i + 1
    QModelIndexList selected = selection.selectedRows();
    QCOMPARE(selected.size(), 2);
    std::vector<int32_t> sizes;
    for (const QModelIndex& index : selected)
        sizes.push_back(model.ItemAt(index.row())->GetSize());
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, (std::vector<int32_t>{10, 47}));
}

void ListModelTest::ColumnZeroShows250CharactersAndAnEllipsis()
{
    FakeCache cache;
    const std::string prefix = "http://h/";
    std::string url300 = prefix + std::string(300 - prefix.size(), 'a');
    std::string url250 = prefix + std::string(250 - prefix.size(), 'b');
    std::string url251 = prefix + std::string(251 - prefix.size(), 'c');
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    items.push_back(MakeItem(cache, {url300.c_str(), nullptr, nullptr, 0, 0}));
    items.push_back(MakeItem(cache, {url250.c_str(), nullptr, nullptr, 0, 0}));
    items.push_back(MakeItem(cache, {url251.c_str(), nullptr, nullptr, 0, 0}));
    CCacheItemModel model;
    model.SetRows(Rows(items));
    QCOMPARE(model.CellText(0, 0), QString::fromStdString(url300.substr(0, 250)) + "...");
    QCOMPARE(model.CellText(1, 0), QString::fromStdString(url250));
    QCOMPARE(model.CellText(2, 0), QString::fromStdString(url251.substr(0, 250)) + "...");
    QCOMPARE(model.data(model.index(1, 0), Qt::DisplayRole).toString(), QString::fromStdString(url250));
}

void ListModelTest::ColumnZeroShowsPathsInServerModeButSortsByUrl()
{
    FakeCache cache;
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    items.push_back(MakeItem(cache, {"https://b/a.gif", "n", "image/gif", 1, 0}));
    items.push_back(MakeItem(cache, {"http://a/z.gif", "n", "image/gif", 1, 0}));
    CCacheItemModel model;
    model.SetRows(Rows(items));
    model.SetRootMode(false);
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("File Path"));
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Cache Name"));
    model.SortRows(0, true);
    QCOMPARE(model.CellText(0, 0), QString("/z.gif"));
    QCOMPARE(model.CellText(1, 0), QString("/a.gif"));
    model.SetRootMode(true);
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("URL"));
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Name"));
    QCOMPARE(model.CellText(0, 0), QString("http://a/z.gif"));
}

void ListModelTest::TooltipTextIsCutAt76Characters()
{
    const QString long250(250, u'u');
    QCOMPARE(CCacheListView::TooltipText(long250), QString(76, u'u') + "...");
    QCOMPARE(CCacheListView::TooltipText(QString(76, u'v')), QString(76, u'v'));
}

void ListModelTest::FindMatchesSubstringsWithOrWithoutCase_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matchCase");
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");
    QTest::newRow("lower-case text finds upper-case URL") << "banner" << false << false << 0 << 2;
    QTest::newRow("match case does not") << "banner" << true << false << 0 << -1;
    QTest::newRow("match case, same case") << "BANNER" << true << false << 0 << 2;
    QTest::newRow("from row 5 without wrap misses row 2") << "banner" << false << false << 5 << -1;
    QTest::newRow("from row 5 with wrap finds row 2") << "banner" << false << true << 5 << 2;
    QTest::newRow("negative start counts as 0") << "item0" << false << false << -3 << 0;
    QTest::newRow("from the match itself") << "item7" << false << false << 7 << 7;
    QTest::newRow("non-ASCII letters ignore case too") << QString::fromUtf8("ÉTÉ") << false << false << 0 << 9;
}

void ListModelTest::FindMatchesSubstringsWithOrWithoutCase()
{
    QFETCH(QString, text);
    QFETCH(bool, matchCase);
    QFETCH(bool, wrap);
    QFETCH(int, start);
    QFETCH(int, expected);
    FakeCache cache;
    std::vector<std::string> urls;
    for (int i = 0; i < 10; ++i)
        urls.push_back("http://h/item" + std::to_string(i));
    urls[2] = "http://h/BANNER.gif";
    urls[9] = "http://h/\xC3\xA9t\xC3\xA9.html"; // "été"
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    for (const std::string& url : urls)
        items.push_back(MakeItem(cache, {url.c_str(), nullptr, nullptr, 0, 0}));
    CCacheItemModel model;
    model.SetRows(Rows(items));
    QCOMPARE(model.FindItem(text.toStdString(), matchCase, wrap, start), expected);
}

void ListModelTest::TheColumnTableGivesTitlesWidthKeysWidthsAndAlignment_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("rootTitle");
    QTest::addColumn<QString>("serverTitle");
    QTest::addColumn<QString>("rootKey");
    QTest::addColumn<QString>("serverKey");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("right");
    QTest::newRow("0") << 0 << "URL" << "File Path" << "URL" << "Path" << 142 << false;
    QTest::newRow("1") << 1 << "Name" << "Cache Name" << "Name" << "Name" << 80 << false;
    QTest::newRow("2") << 2 << "Size (bytes)" << "Size (bytes)" << "Size" << "Size" << 70 << true;
    QTest::newRow("3") << 3 << "File Type" << "File Type" << "Type" << "Type" << 60 << false;
    QTest::newRow("4") << 4 << "Last Modified Date" << "Last Modified Date" << "DateMod" << "DateMod" << 116 << false;
    QTest::newRow("5") << 5 << "Download Date" << "Download Date" << "DateDown" << "DateDown" << 116 << false;
    QTest::newRow("6") << 6 << "Expiry Date" << "Expiry Date" << "DateExpire" << "DateExpire" << 116 << false;
}

void ListModelTest::TheColumnTableGivesTitlesWidthKeysWidthsAndAlignment()
{
    QFETCH(int, column);
    QFETCH(QString, rootTitle);
    QFETCH(QString, serverTitle);
    QFETCH(QString, rootKey);
    QFETCH(QString, serverKey);
    QFETCH(int, width);
    QFETCH(bool, right);
    CCacheItemModel model;
    QCOMPARE(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(), rootTitle);
    model.SetRootMode(false);
    QCOMPARE(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(), serverTitle);
    QCOMPARE(QString(CCacheItemModel::WidthKey(true, column)), rootKey);
    QCOMPARE(QString(CCacheItemModel::WidthKey(false, column)), serverKey);
    QCOMPARE(CCacheItemModel::DefaultWidth(column), width);
    const int alignment = model.headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).toInt();
    QCOMPARE(bool(alignment & Qt::AlignRight), right);
    FakeCache cache;
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    items.push_back(MakeItem(cache, {"http://h/a", "n", "text/html", 1234, 86400}));
    model.SetRows(Rows(items));
    QCOMPARE(model.data(model.index(0, column), Qt::TextAlignmentRole).toInt(), alignment);
    QCOMPARE(model.data(model.index(0, column), Qt::DisplayRole).toString(), model.CellText(0, column));
    QVERIFY(!CCacheItemModel::ColumnAt(7));
    QVERIFY(!CCacheItemModel::ColumnAt(-1));
    QCOMPARE(model.CellText(0, 7), QString());
}

void ListModelTest::TheModelKeepsTheSortStateAndAFillSortsInOneReset()
{
    FakeCache cache;
    std::vector<std::unique_ptr<CFileCacheItem>> items;
    items.push_back(MakeItem(cache, {"http://h/a", "n2", "text/html", 30, 300}));
    items.push_back(MakeItem(cache, {"http://h/b", "n1", "text/html", 10, 100}));
    items.push_back(MakeItem(cache, {"http://h/c", "n3", "text/html", 20, 200}));
    CCacheItemModel model;
    QVERIFY(!model.HasSortState());
    QCOMPARE(model.SortColumn(), -1);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy layouts(&model, &QAbstractItemModel::layoutChanged);
    // Without a sort state a fill keeps the order given.
    model.SetSortedRows(Rows(items));
    QCOMPARE(Urls(model), (QStringList{"http://h/a", "http://h/b", "http://h/c"}));
    model.SortRows(2, false);
    QCOMPARE(model.SortColumn(), 2);
    QVERIFY(!model.SortAscending());
    QCOMPARE(layouts.size(), 1);
    model.SetSortState(1, true);
    QCOMPARE(Urls(model), (QStringList{"http://h/a", "http://h/c", "http://h/b"}));
    resets.clear();
    model.SetSortedRows(Rows(items));
    QCOMPARE(Urls(model), (QStringList{"http://h/b", "http://h/a", "http://h/c"}));
    QCOMPARE(resets.size(), 1);
    QCOMPARE(layouts.size(), 1);
}

ORIEL_UI_TEST_MAIN(ListModelTest)
#include "ListModelTest.moc"
