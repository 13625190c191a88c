// oriel-shot: opens the window offscreen on the configured caches (as
// `oriel` would, with ORIEL_CONFIG) and saves pictures of it:
//
//   oriel-shot OUTDIR [PROFILE]
//
// With PROFILE (a profile's name as the tree shows it, "Default (Chrome)"),
// the pictures show that profile; else the first one with a picture.
//
//   details.png       details view, a server chosen, an image shown
//   request-data.png  the request-data pane under a page's row
//   icons.png         large icons view of the whole profile
//   recovered.png     View > Show Recovered Entries on, a profile's
//                     "<Recovered>" group chosen (when one has any)
//   recovered-profile.png  the whole profile with its recovered rows
//   menu-*.png        the main menu's popups and the context menus
#include "app/CacheApp.h"
#include "app/OptionStore.h"
#include "catalog/FormatCatalog.h"
#include "model/BrowserSettings.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"
#include "ui/CacheTreeView.h"
#include "ui/ContentView.h"
#include "ui/commands/Command.h"

#include <QApplication>
#include <QDir>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using namespace oriel;

bool Save(QWidget& window, const QString& file)
{
    QApplication::processEvents();
    window.repaint();
    QApplication::processEvents();
    if (!window.grab().save(file, "PNG")) {
        std::fprintf(stderr, "oriel-shot: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// A popup menu as it opens (its entries refreshed as on opening).
bool SaveMenu(QMenu& menu, const QString& file)
{
    menu.popup(QPoint(0, 0));
    QApplication::processEvents();
    const bool saved = menu.grab().save(file, "PNG");
    menu.hide();
    if (!saved) {
        std::fprintf(stderr, "oriel-shot: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

// Selects the first row whose item passes `want`, as a click would.
bool SelectRow(CCacheListView& list, const std::function<bool(CCacheItem&)>& want)
{
    CCacheItemModel* model = list.Model();
    for (int row = 0; row < model->RowCountInt(); ++row) {
        CCacheItem* item = model->ItemAt(row);
        if (!model->IsMissing(row) && want(*item)) {
            QModelIndex index = model->index(row, 0);
            list.Table()->selectionModel()->select(
                index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            list.Table()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
            list.Table()->scrollTo(index);
            list.ReportSelectionChange();
            return true;
        }
    }
    return false;
}

bool HasType(CCacheItem& item, const char* prefix)
{
    const char* type = item.GetContentType();
    return type && std::strncmp(type, prefix, std::strlen(prefix)) == 0;
}

// The server node whose pictures that show take the most bytes (a server of
// tracking pixels makes a poor picture).
QTreeWidgetItem* ServerWithImages(CCacheTreeView& tree, QTreeWidgetItem* profileNode)
{
    QTreeWidgetItem* best = nullptr;
    int64_t bestCount = 0;
    for (int i = 0; i < profileNode->childCount(); ++i) {
        CNamedCacheItemArray* server = CCacheTreeView::NodeServer(profileNode->child(i));
        int64_t count = 0;
        for (int32_t j = 0; server && j < server->GetCount(); ++j) {
            CCacheItem* item = server->ItemAt(j);
            if (item && HasType(*item, "image") && item->Exists())
                count += std::max<int32_t>(item->GetSize(), 1);
        }
        if (count > bestCount) {
            best = profileNode->child(i);
            bestCount = count;
        }
    }
    (void)tree;
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: oriel-shot OUTDIR [PROFILE]\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString wantedProfile = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    QDir().mkpath(outDir);
    ChooseIconTheme();

    CCacheApp app(OptionStore::Instance());
    if (!app.InitInstance("")) {
        std::fprintf(stderr, "oriel-shot: no window to show\n");
        return 1;
    }
    CBrowserSettings settings(app.Context(), FormatCatalog());
    CCacheDocument document(std::make_unique<BrowserSettingsCollection>(settings));
    CCacheFrame frame(document);
    frame.setGeometry(0, 0, 1100, 700);
    frame.ShowInfoView(1);
    frame.Action(CCacheFrame::ID_VIEW_DETAILS)->trigger();
    frame.show();
    if (!QTest::qWaitForWindowExposed(&frame))
        return 1;

    frame.OuterSplitter()->setSizes({230, 870});
    frame.InnerSplitter()->setSizes({360, 260, 0});
    CCacheListView& list = *frame.List();
    const int widths[CCacheItemModel::kColumnCount] = {190, 150, 80, 90, 150, 150, 150};
    for (int column = 0; column < CCacheItemModel::kColumnCount; ++column)
        list.Table()->setColumnWidth(column, widths[column]);

    // The first server, over all profiles, with a picture that shows.
    CCacheTreeView& tree = *frame.Tree();
    QTreeWidgetItem* profileNode = nullptr;
    bool shown = false;
    for (int i = 0; i < tree.topLevelItemCount() && !shown; ++i) {
        QTreeWidgetItem* node = tree.topLevelItem(i);
        if (!wantedProfile.isEmpty() && node->text(0) != wantedProfile)
            continue;
        node->setExpanded(true);
        // Expanding decodes on a decode job; the window goes on when it ends.
        if (!QTest::qWaitFor([&frame] { return !frame.IsDecoding(); }, 60000))
            std::fprintf(stderr, "oriel-shot: the decode did not end\n");
        QTreeWidgetItem* server = ServerWithImages(tree, node);
        if (!server)
            continue;
        tree.setCurrentItem(server);
        // The largest picture of the server makes the clearest picture.
        CCacheItemModel* model = list.Model();
        std::vector<CCacheItem*> images;
        for (int row = 0; row < model->RowCountInt(); ++row) {
            if (HasType(*model->ItemAt(row), "image") && !model->IsMissing(row))
                images.push_back(model->ItemAt(row));
        }
        std::stable_sort(images.begin(), images.end(),
                         [](CCacheItem* a, CCacheItem* b) { return a->GetSize() > b->GetSize(); });
        for (CCacheItem* wanted : images) {
            SelectRow(list, [wanted](CCacheItem& item) { return &item == wanted; });
            shown = frame.Content()->HasImage();
            if (shown)
                break;
        }
        profileNode = node;
    }
    if (!wantedProfile.isEmpty() && !profileNode) {
        std::fprintf(stderr, "oriel-shot: no profile %s with pictures\n", qPrintable(wantedProfile));
        return 1;
    }
    if (!shown)
        std::fprintf(stderr, "oriel-shot: no picture could be shown\n");
    if (!profileNode && tree.topLevelItemCount() > 0)
        profileNode = tree.topLevelItem(0);
    if (!profileNode) {
        std::fprintf(stderr, "oriel-shot: no profiles\n");
        return 1;
    }
    bool ok = Save(frame, outDir + "/details.png");

    frame.ShowInfoView(0);
    tree.setCurrentItem(profileNode);
    list.Table()->setColumnWidth(0, 300);
    if (!SelectRow(list, [](CCacheItem& item) { return HasType(item, "text/html") && item.GetHeaders(); }))
        SelectRow(list, [](CCacheItem& item) { return item.GetHeaders() != nullptr; });
    ok = Save(frame, outDir + "/request-data.png") && ok;

    frame.ShowInfoView(1);
    frame.Action(CCacheFrame::ID_VIEW_LARGE_ICONS)->trigger();
    SelectRow(list, [](CCacheItem& item) { return HasType(item, "image/png"); });
    ok = Save(frame, outDir + "/icons.png") && ok;

    // The recovered entries: the first expanded profile with a
    // "<Recovered>" group, that group and then the whole profile.
    frame.Action(CCacheFrame::ID_VIEW_DETAILS)->trigger();
    frame.Action(CommandIds::ID_VIEW_SHOW_RECOVERED)->trigger();
    QTreeWidgetItem* recoveredNode = nullptr;
    for (int i = 0; i < tree.topLevelItemCount() && !recoveredNode; ++i) {
        QTreeWidgetItem* node = tree.topLevelItem(i);
        if (!wantedProfile.isEmpty() && node->text(0) != wantedProfile)
            continue;
        node->setExpanded(true);
        if (!QTest::qWaitFor([&frame] { return !frame.IsDecoding(); }, 60000))
            std::fprintf(stderr, "oriel-shot: the decode did not end\n");
        for (int c = 0; c < node->childCount() && !recoveredNode; ++c) {
            if (CCacheTreeView::IsRecoveredNode(node->child(c)))
                recoveredNode = node->child(c);
        }
    }
    if (recoveredNode) {
        tree.setCurrentItem(recoveredNode);
        tree.scrollToItem(recoveredNode);
        list.Table()->setColumnWidth(0, 300);
        SelectRow(list, [](CCacheItem& item) { return item.GetURL() && *item.GetURL(); });
        ok = Save(frame, outDir + "/recovered.png") && ok;
        tree.setCurrentItem(recoveredNode->parent());
        ok = Save(frame, outDir + "/recovered-profile.png") && ok;
    }
    frame.Action(CommandIds::ID_VIEW_SHOW_RECOVERED)->trigger();

    // The menus as they open over this state.
    const QList<QAction*> popups = frame.menuBar()->actions();
    for (QAction* popup : popups) {
        if (QMenu* menu = popup->menu()) {
            const QString name = popup->text().remove(u'&').toLower();
            ok = SaveMenu(*menu, outDir + "/menu-" + name + ".png") && ok;
            for (QAction* entry : menu->actions()) {
                if (entry->menu())
                    ok = SaveMenu(*entry->menu(), outDir + "/menu-" + name + "-" +
                                                      entry->text().remove(u'&').section(u' ', 0, 0).toLower() + ".png") && ok;
            }
        }
    }
    const struct {
        int menu;
        const char* name;
    } kContextMenus[] = {{CCacheFrame::kBackgroundMenu, "background"}, {CCacheFrame::kProfileMenu, "profile"}};
    for (const auto& context : kContextMenus) {
        std::unique_ptr<QMenu> menu = frame.CreateContextMenu(context.menu);
        if (menu) {
            ok = SaveMenu(*menu, outDir + "/menu-" + context.name + ".png") && ok;
            for (QAction* entry : menu->actions()) {
                if (entry->menu())
                    ok = SaveMenu(*entry->menu(), outDir + "/menu-" + context.name + "-" +
                                                      entry->text().remove(u'&').section(u' ', 0, 0).toLower() + ".png") && ok;
            }
        }
    }
    return ok ? 0 : 1;
}
