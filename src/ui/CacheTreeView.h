// The profile tree: one node per browser profile and, once a profile has
// been expanded, one node per server of its cache (and, with View > Show
// Recovered Entries, a last node "<Recovered>" for its recovered items). Expanding a profile
// decodes its cache the first time; choosing a node shows it in the list.
#pragma once

#include "ui/Document.h"

#include <QTreeWidget>

namespace oriel {

class CCacheFrame;

class CCacheTreeView : public QTreeWidget, public CView {
    Q_OBJECT
public:
    // Node images: the node's kind is told by its image.
    enum Image { kProfileImage = 0, kProfileSelectedImage = 1, kServerImage = 2, kServerSelectedImage = 3 };
    // Server names longer than this show their start and "...".
    static constexpr int kMaxServerChars = 250;

    CCacheTreeView(CCacheFrame& frame, CCacheDocument& document, QWidget* parent = nullptr);
    ~CCacheTreeView() override;

    void OnInitialUpdate() override;
    void OnUpdate(CView* sender, int32_t hint, CUpdateHint* hintObject) override;

    void AddProfiles();
    BrowserProfile* GetSelectedProfile() const;
    CNamedCacheItemArray* GetSelectedServer() const;
    QTreeWidgetItem* FindProfileNode(BrowserProfile* profile) const;
    void RebuildProfileNode(BrowserProfile* profile, bool expand);

    // The node's image (0 profile, 2 server), or -1 without a node.
    static int NodeImage(const QTreeWidgetItem* node);
    static BrowserProfile* NodeProfile(const QTreeWidgetItem* node);
    static CNamedCacheItemArray* NodeServer(const QTreeWidgetItem* node);
    static bool ExpandedOnce(const QTreeWidgetItem* node);
    // True for a profile's "<Recovered>" node (a server-kind node over the
    // cache's recovered items).
    static bool IsRecoveredNode(const QTreeWidgetItem* node);
    // Adds or removes the "<Recovered>" node of every expanded profile as
    // the frame's Show Recovered Entries says; a removed node that was
    // chosen hands the choice to its profile.
    void UpdateRecoveredNodes();
    // The label a server node shows.
    static QString ServerLabel(const char* name);

private:
    void OnItemExpandedOrCollapsed(QTreeWidgetItem* node);
    // After a decode (or with the cache decoded): the profile's servers
    // under its node, once, and the list told to show the profile.
    void FinishExpansion(BrowserProfile* profile, bool expanding, bool addServers);
    void OnCurrentItemChanged(QTreeWidgetItem* current);
    QTreeWidgetItem* NewNode(int image, const QString& label);
    // The profile node's "<Recovered>" child, or null.
    static QTreeWidgetItem* RecoveredChild(QTreeWidgetItem* profileNode);
    // Appends it when the cache has recovered items.
    void AddRecoveredNode(QTreeWidgetItem* profileNode, CCache* cache);
    // Inserts among the siblings in alphabetical position.
    static void InsertSorted(QTreeWidget* tree, QTreeWidgetItem* parent, QTreeWidgetItem* node);
    // Selects without the selection counting as the user's.
    void SelectInCode(QTreeWidgetItem* node);
    void ExpandInCode(QTreeWidgetItem* node);

    CCacheFrame& frame_;
    CCacheDocument& document_;
    QIcon profileIcon_;
    QIcon serverIcon_;
    int codeSelecting_ = 0;
};

} // namespace oriel
