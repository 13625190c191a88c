#include "ui/dialogs/CopyMoveDialog.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "model/CacheItem.h"
#include "ui/FileTypeIcons.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace oriel {

namespace {

constexpr int kItemRole = Qt::UserRole + 1;

QString Q(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString Q(const char* s)
{
    return QString::fromUtf8(s ? s : "");
}

} // namespace

CCopyMoveDlg::CCopyMoveDlg(OptionStore& store, const DestNameOptions& names, int operation, CFileTypeIcons* icons,
                           QWidget* parent)
    : QDialog(parent)
    , store_(store)
    , names_(names)
    , operation_(operation)
    , icons_(icons)
{
    auto* layout = new QVBoxLayout(this);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(new QLabel(tr("Destination folder:"), this));
    folderBox_ = new QComboBox(this);
    folderBox_->setEditable(true);
    folderBox_->setMinimumContentsLength(40);
    folderRow->addWidget(folderBox_, 1);
    auto* browse = new QPushButton(tr("&Browse..."), this);
    connect(browse, &QPushButton::clicked, this, &CCopyMoveDlg::OnBrowse);
    folderRow->addWidget(browse);
    layout->addLayout(folderRow);

    auto* opRow = new QHBoxLayout;
    copyButton_ = new QRadioButton(tr("&Copy"), this);
    moveButton_ = new QRadioButton(tr("&Move"), this);
    opRow->addWidget(copyButton_);
    opRow->addWidget(moveButton_);
    opRow->addStretch(1);
    layout->addLayout(opRow);
    connect(copyButton_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            SetOperation(kCopy);
    });
    connect(moveButton_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            SetOperation(kMove);
    });

    rows_ = new QTreeWidget(this);
    rows_->setRootIsDecorated(false);
    rows_->setColumnCount(2);
    rows_->setHeaderLabels({Q(LoadString(IDS_DEST_FILE_NAMES)), Q(LoadString(IDS_CACHE_FILE_NAMES))});
    rows_->header()->resizeSection(0, 300);
    rows_->header()->resizeSection(1, 100);
    rows_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // F2 (and a slow second click) edits the destination name.
    rows_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    layout->addWidget(rows_, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CCopyMoveDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CCopyMoveDlg::reject);
    layout->addWidget(buttons);
    resize(560, 380);

    SetOperation(operation);
    LoadHistory();
}

void CCopyMoveDlg::SetOperation(int operation)
{
    operation_ = operation == kMove ? kMove : kCopy;
    setWindowTitle(Q(LoadString(operation_ == kMove ? IDS_MOVE_TO : IDS_COPY_TO)));
    (operation_ == kMove ? moveButton_ : copyButton_)->setChecked(true);
}

void CCopyMoveDlg::FillList(const std::vector<CCacheItem*>& items)
{
    for (CCacheItem* item : items) {
        // Bodies that are not there are left out; bodies are not prepared
        // here: the job extracts them without writing into the cache.
        if (!item || !item->Exists())
            continue;
        auto* row = new QTreeWidgetItem;
        row->setText(0, Q(DestNameFor(*item, names_)));
        row->setText(1, Q(item->GetCacheName()));
        row->setData(0, kItemRole, QVariant::fromValue<void*>(item));
        row->setFlags(row->flags() | Qt::ItemIsEditable);
        if (icons_)
            row->setIcon(0, icons_->Icon(item->GetTypeIcon(*icons_)));
        rows_->insertTopLevelItem(0, row);
    }
}

std::vector<CopyRequest> CCopyMoveDlg::Requests() const
{
    std::vector<CopyRequest> requests;
    for (int i = 0; i < rows_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = rows_->topLevelItem(i);
        auto* item = static_cast<CCacheItem*>(row->data(0, kItemRole).value<void*>());
        requests.push_back({item, row->text(0).toStdString()});
    }
    return requests;
}

void CCopyMoveDlg::LoadHistory()
{
    history_.clear();
    for (int i = 1; i <= kHistorySize; ++i) {
        std::string folder = store_.ReadString("CopyMoveDirs", "Prev" + std::to_string(i), "");
        if (folder.empty())
            break;
        history_.push_back(folder);
        folderBox_->addItem(Q(folder));
    }
    if (folderBox_->count() > 0)
        folderBox_->setCurrentIndex(0);
}

void CCopyMoveDlg::SaveHistory()
{
    for (int i = 0; i < kHistorySize; ++i)
        store_.WriteString("CopyMoveDirs", "Prev" + std::to_string(i + 1),
                           size_t(i) < history_.size() ? history_[size_t(i)] : std::string());
}

void CCopyMoveDlg::PushHistory(const std::string& folder)
{
    history_.erase(std::remove(history_.begin(), history_.end(), folder), history_.end());
    history_.insert(history_.begin(), folder);
    if (history_.size() > size_t(kHistorySize))
        history_.resize(kHistorySize);
}

void CCopyMoveDlg::AddBrowsedFolder(const std::string& folder)
{
    if (folder.empty())
        return;
    int existing = folderBox_->findText(Q(folder), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (existing >= 0)
        folderBox_->removeItem(existing);
    PushHistory(folder);
    folderBox_->insertItem(0, Q(folder));
    folderBox_->setCurrentIndex(0);
}

void CCopyMoveDlg::OnBrowse()
{
    QString picked = QFileDialog::getExistingDirectory(this, Q(LoadString(IDS_SELECT_DEST_FOLDER)),
                                                       folderBox_->currentText());
    AddBrowsedFolder(picked.toStdString());
}

void CCopyMoveDlg::accept()
{
    std::string folder = folderBox_->currentText().toStdString();
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (folder.empty())
        return; // nowhere to copy to: the dialog stays open
    folder_ = folder;
    PushHistory(folder);
    SaveHistory();
    QDialog::accept();
}

} // namespace oriel
