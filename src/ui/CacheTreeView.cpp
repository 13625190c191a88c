#include "ui/CacheTreeView.h"

#include "app/StringTable.h"
#include "ui/CacheAccess.h"

#include "ui/WindowLog.h"
#include "ui/CacheFrame.h"
#include "ui/FileTypeIcons.h"
#include "ui/ItemListModel.h"

#include <QHeaderView>

namespace oriel {

namespace {

constexpr int kDataRole = Qt::UserRole;         // the profile or the server
constexpr int kImageRole = Qt::UserRole + 1;    // 0 profile, 2 server
constexpr int kExpandedOnceRole = Qt::UserRole + 2;
constexpr int kRecoveredRole = Qt::UserRole + 3;  // the "<Recovered>" node

QIcon NodeIcon(const char* normal, const char* selected)
{
    QIcon icon(QStringLiteral(":/oriel/icons/%1.svg").arg(QLatin1String(normal)));
    const QString selectedFile = QStringLiteral(":/oriel/icons/%1.svg").arg(QLatin1String(selected));
    for (int size : {16, 32})
        icon.addFile(selectedFile, QSize(size, size), QIcon::Selected);
    return icon;
}

// Clears a flag when the scope ends, however it ends.
class CountGuard {
public:
    explicit CountGuard(int& count)
        : count_(count)
    {
        ++count_;
    }
    ~CountGuard() { --count_; }
    CountGuard(const CountGuard&) = delete;
    CountGuard& operator=(const CountGuard&) = delete;

private:
    int& count_;
};

} // namespace

CCacheTreeView::CCacheTreeView(CCacheFrame& frame, CCacheDocument& document, QWidget* parent)
    : QTreeWidget(parent)
    , frame_(frame)
    , document_(document)
{
    InitUiResources();
    profileIcon_ = NodeIcon("profile", "profile-selected");
    serverIcon_ = NodeIcon("server", "server-selected");
    setColumnCount(1);
    header()->hide();
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformRowHeights(true);
    setIconSize(QSize(16, 16));
    setAnimated(false);
    setExpandsOnDoubleClick(true);
    connect(this, &QTreeWidget::itemExpanded, this, &CCacheTreeView::OnItemExpandedOrCollapsed);
    connect(this, &QTreeWidget::itemCollapsed, this, &CCacheTreeView::OnItemExpandedOrCollapsed);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnCurrentItemChanged(current); });
    document_.AddView(this);
}

CCacheTreeView::~CCacheTreeView()
{
    document_.RemoveView(this);
}

int CCacheTreeView::NodeImage(const QTreeWidgetItem* node)
{
    return node ? node->data(0, kImageRole).toInt() : -1;
}

BrowserProfile* CCacheTreeView::NodeProfile(const QTreeWidgetItem* node)
{
    if (!node || NodeImage(node) != kProfileImage)
        return nullptr;
    return reinterpret_cast<BrowserProfile*>(node->data(0, kDataRole).value<quintptr>());
}

CNamedCacheItemArray* CCacheTreeView::NodeServer(const QTreeWidgetItem* node)
{
    if (!node || NodeImage(node) == kProfileImage)
        return nullptr;
    return reinterpret_cast<CNamedCacheItemArray*>(node->data(0, kDataRole).value<quintptr>());
}

bool CCacheTreeView::ExpandedOnce(const QTreeWidgetItem* node)
{
    return node && node->data(0, kExpandedOnceRole).toBool();
}

bool CCacheTreeView::IsRecoveredNode(const QTreeWidgetItem* node)
{
    return node && node->data(0, kRecoveredRole).toBool();
}

QTreeWidgetItem* CCacheTreeView::RecoveredChild(QTreeWidgetItem* profileNode)
{
    for (int i = 0; profileNode && i < profileNode->childCount(); ++i) {
        if (IsRecoveredNode(profileNode->child(i)))
            return profileNode->child(i);
    }
    return nullptr;
}

void CCacheTreeView::AddRecoveredNode(QTreeWidgetItem* profileNode, CCache* cache)
{
    if (!cache || cache->GetRecoveredCount() == 0 || RecoveredChild(profileNode))
        return;
    // The list only reads the group; the tree keeps it as it keeps the
    // server groups.
    auto* group = const_cast<CNamedCacheItemArray*>(&cache->GetRecoveredItems());
    QTreeWidgetItem* child = NewNode(kServerImage, QString::fromUtf8(LoadString(IDS_RECOVERED_GROUP)));
    child->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(group)));
    child->setData(0, kRecoveredRole, true);
    child->setForeground(0, CCacheItemModel::RecoveredColor());
    // Last, after the servers, whatever its name sorts as.
    profileNode->addChild(child);
}

void CCacheTreeView::UpdateRecoveredNodes()
{
    const bool show = frame_.ShowRecovered();
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = topLevelItem(i);
        BrowserProfile* profile = NodeProfile(node);
        if (!profile || !ExpandedOnce(node))
            continue;
        CCache* cache = profile->cache.get();
        if (show) {
            if (cache && cache->IsDecoded())
                AddRecoveredNode(node, cache);
            continue;
        }
        QTreeWidgetItem* child = RecoveredChild(node);
        if (!child)
            continue;
        if (currentItem() == child) {
            SelectInCode(node);
            document_.SetTitle(profile->profileName);
            document_.UpdateAllViews(this, CACHE_RELOAD, CUpdateHint::ForProfile(profile));
        }
        delete child;
    }
}

QString CCacheTreeView::ServerLabel(const char* name)
{
    if (!name)
        return {};
    QByteArray bytes(name);
    if (bytes.size() > kMaxServerChars)
        return QString::fromUtf8(bytes.left(kMaxServerChars)) + QStringLiteral("...");
    return QString::fromUtf8(bytes);
}

void CCacheTreeView::OnInitialUpdate()
{
    Trace("Entry - CCacheTreeView::OnInitialUpdate()");
    document_.SetTitle("");
    Trace("Exit - CCacheTreeView::OnInitialUpdate()");
}

void CCacheTreeView::OnUpdate(CView*, int32_t hint, CUpdateHint* hintObject)
{
    Trace("Entry - CCacheTreeView::OnUpdate()");
    if (hint == CACHE_RELOAD) {
        Trace("      - lHint = ViewHintEnum::Reload");
        if (hintObject && hintObject->kind == CUpdateHint::kProfile)
            RebuildProfileNode(hintObject->profile, true);
    } else if (hint == CACHE_EMPTY) {
        Trace("      - lHint = ViewHintEnum::Empty");
        if (hintObject && hintObject->kind == CUpdateHint::kProfile)
            RebuildProfileNode(hintObject->profile, false);
        else if (hintObject && hintObject->kind == CUpdateHint::kDocument)
            AddProfiles();
    }
    Trace("Exit - CCacheTreeView::OnUpdate()");
}

QTreeWidgetItem* CCacheTreeView::NewNode(int image, const QString& label)
{
    auto* node = new QTreeWidgetItem;
    node->setText(0, label);
    node->setIcon(0, image == kProfileImage ? profileIcon_ : serverIcon_);
    node->setData(0, kImageRole, image);
    node->setData(0, kExpandedOnceRole, false);
    if (image == kProfileImage)
        node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    else
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    return node;
}

void CCacheTreeView::InsertSorted(QTreeWidget* tree, QTreeWidgetItem* parent, QTreeWidgetItem* node)
{
    const int count = parent ? parent->childCount() : tree->topLevelItemCount();
    const QString label = node->text(0);
    // After every sibling whose label is not greater (alphabetical, case ignored).
    int low = 0, high = count;
    while (low < high) {
        int mid = (low + high) / 2;
        QTreeWidgetItem* sibling = parent ? parent->child(mid) : tree->topLevelItem(mid);
        if (QString::compare(sibling->text(0), label, Qt::CaseInsensitive) <= 0)
            low = mid + 1;
        else
            high = mid;
    }
    if (parent)
        parent->insertChild(low, node);
    else
        tree->insertTopLevelItem(low, node);
}

void CCacheTreeView::SelectInCode(QTreeWidgetItem* node)
{
    CountGuard guard(codeSelecting_);
    setCurrentItem(node);
}

void CCacheTreeView::ExpandInCode(QTreeWidgetItem* node)
{
    node->setExpanded(true);
}

void CCacheTreeView::AddProfiles()
{
    Trace("Entry - CCacheTreeView::AddProfiles()");
    {
        CountGuard guard(codeSelecting_);
        clear();
        for (int32_t i = 0; i < document_.GetCount(); ++i) {
            BrowserProfile* profile = document_.GetProfile(i);
            if (!profile)
                continue;
            QTreeWidgetItem* node = NewNode(kProfileImage, QString::fromStdString(profile->displayName));
            node->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(profile)));
            if (!CacheWritable(profile))
                node->setToolTip(0, QString::fromUtf8(LoadString(IDS_READ_ONLY_NOTE)));
            InsertSorted(this, nullptr, node);
            Trace("      - Profile added to tree: " + profile->displayName);
        }
    }
    BrowserProfile* defaultProfile = document_.GetDefaultProfile();
    QTreeWidgetItem* defaultNode = defaultProfile ? FindProfileNode(defaultProfile) : nullptr;
    if (defaultNode) {
        SelectInCode(defaultNode);
        document_.SetTitle(defaultProfile->profileName);
    } else {
        document_.SetTitle("");
    }
    Trace("Exit - CCacheTreeView::AddProfiles()");
}

BrowserProfile* CCacheTreeView::GetSelectedProfile() const
{
    QTreeWidgetItem* node = currentItem();
    if (!node)
        return nullptr;
    if (NodeImage(node) == kProfileImage)
        return NodeProfile(node);
    QTreeWidgetItem* parent = node->parent();
    return parent && NodeImage(parent) == kProfileImage ? NodeProfile(parent) : nullptr;
}

CNamedCacheItemArray* CCacheTreeView::GetSelectedServer() const
{
    return NodeServer(currentItem());
}

QTreeWidgetItem* CCacheTreeView::FindProfileNode(BrowserProfile* profile) const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = topLevelItem(i);
        if (NodeProfile(node) == profile)
            return node;
    }
    return nullptr;
}

void CCacheTreeView::RebuildProfileNode(BrowserProfile* profile, bool expand)
{
    QTreeWidgetItem* node = FindProfileNode(profile);
    if (!node)
        return;
    setUpdatesEnabled(false);
    {
        CountGuard guard(codeSelecting_);
        // Clearing the states is not an expansion: nothing reacts to it.
        const bool blocked = blockSignals(true);
        qDeleteAll(node->takeChildren());
        node->setData(0, kExpandedOnceRole, false);
        node->setExpanded(false);
        blockSignals(blocked);
    }
    SelectInCode(node);
    setUpdatesEnabled(true);
    viewport()->update();
    if (expand)
        ExpandInCode(node);
}

void CCacheTreeView::OnItemExpandedOrCollapsed(QTreeWidgetItem* node)
{
    if (!node || NodeImage(node) != kProfileImage)
        return;
    BrowserProfile* profile = NodeProfile(node);
    if (!profile)
        return;
    const bool expanding = node->isExpanded();
    CCache* cache = profile->cache.get();
    if (cache && !cache->IsDecoded()) {
        frame_.BeginWait();
        frame_.SetStatusMessage(IDS_DECODING);
        frame_.ShowProgress(true);
        frame_.StartDecode(cache, [this, profile, expanding](int result) {
            frame_.ShowProgress(false);
            frame_.UpdateStatusText();
            frame_.EndWait();
            FinishExpansion(profile, expanding, result != -1);
        });
        return;
    }
    FinishExpansion(profile, expanding, true);
}

void CCacheTreeView::FinishExpansion(BrowserProfile* profile, bool expanding, bool addServers)
{
    QTreeWidgetItem* node = FindProfileNode(profile);
    if (!node)
        return;
    CCache* cache = profile->cache.get();
    if (addServers) {
        if (ExpandedOnce(node))
            return;
        if (expanding)
            node->setData(0, kExpandedOnceRole, true);
        if (cache) {
            frame_.BeginWait();
            for (int32_t i = 0; i < cache->GetGroupCount(); ++i) {
                CNamedCacheItemArray* group = cache->GetGroup(i);
                QTreeWidgetItem* child = NewNode(kServerImage, ServerLabel(group->GetName()));
                child->setData(0, kDataRole, QVariant::fromValue(reinterpret_cast<quintptr>(group)));
                InsertSorted(this, node, child);
            }
            if (frame_.ShowRecovered())
                AddRecoveredNode(node, cache);
            frame_.EndWait();
        }
    } else if (expanding) {
        // The control counts the node as expanded once all the same.
        node->setData(0, kExpandedOnceRole, true);
    }
    // The list is about to show this profile: the highlight and the title
    // go with it, also when another node was chosen (expanding or
    // collapsing a profile does not choose it), so that nothing listed is
    // credited to the wrong browser.
    if (currentItem() != node)
        SelectInCode(node);
    document_.SetTitle(profile->profileName);
    document_.UpdateAllViews(this, CACHE_RELOAD, CUpdateHint::ForProfile(profile));
}

void CCacheTreeView::OnCurrentItemChanged(QTreeWidgetItem* current)
{
    // Only a choice by mouse or keyboard counts.
    if (codeSelecting_ > 0 || !current)
        return;
    if (NodeImage(current) == kProfileImage) {
        BrowserProfile* profile = NodeProfile(current);
        if (!profile)
            return;
        document_.UpdateAllViews(this, CACHE_RELOAD, CUpdateHint::ForProfile(profile));
        document_.SetTitle(profile->profileName);
    } else {
        CNamedCacheItemArray* server = NodeServer(current);
        if (!server)
            return;
        document_.UpdateAllViews(this, CACHE_RELOAD, CUpdateHint::ForServer(server));
        document_.SetTitle(server->GetName()         ? server->GetName()
                           : IsRecoveredNode(current) ? LoadString(IDS_RECOVERED_GROUP)
                                                      : "");
    }
}

} // namespace oriel
