#include "ui/dialogs/FindDialog.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/CacheFrame.h"
#include "ui/CacheListView.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace oriel {

namespace {

std::string HistoryKey(int position)
{
    return "Prev" + std::to_string(position);
}

} // namespace

CFindDlg::CFindDlg(CCacheFrame& frame, OptionStore& store)
    : QDialog(&frame)
    , frame_(frame)
    , store_(store)
{
    setWindowTitle(tr("Find"));
    setObjectName(QStringLiteral("FindDialog"));
    setModal(false);

    auto* label = new QLabel(tr("&Find What:"), this);
    text_ = new QComboBox(this);
    text_->setObjectName(QStringLiteral("findWhat"));
    text_->setEditable(true);
    // The dialog keeps the list itself: no entry is added by Enter.
    text_->setInsertPolicy(QComboBox::NoInsert);
    text_->setMaxCount(kHistorySize);
    text_->setMinimumContentsLength(28);
    label->setBuddy(text_);
    extend_ = new QCheckBox(tr("&Extend Selection"), this);
    matchCase_ = new QCheckBox(tr("Match Ca&se"), this);
    wrap_ = new QCheckBox(tr("&Wrap to Start"), this);
    findNext_ = new QPushButton(tr("Find &Next"), this);
    findNext_->setDefault(true);
    auto* cancel = new QPushButton(QString::fromUtf8(LoadString(IDS_CANCEL)), this);
    cancel->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(label, 0, 0);
    grid->addWidget(text_, 0, 1);
    auto* boxes = new QVBoxLayout;
    boxes->addWidget(extend_);
    boxes->addWidget(matchCase_);
    boxes->addWidget(wrap_);
    grid->addLayout(boxes, 1, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(findNext_);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addLayout(buttons);

    findNext_->setEnabled(false);
    LoadHistory();

    connect(text_, &QComboBox::editTextChanged, this, [this](const QString& text) { findNext_->setEnabled(!text.isEmpty()); });
    connect(text_, &QComboBox::activated, this, [this](int) { findNext_->setEnabled(true); });
    connect(findNext_, &QPushButton::clicked, this, &CFindDlg::FindNext);
    connect(cancel, &QPushButton::clicked, this, &CFindDlg::reject);
}

CFindDlg* CFindDlg::OpenDialog(CCacheFrame& frame)
{
    for (CFindDlg* dialog : frame.findChildren<CFindDlg*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!dialog->closed_)
            return dialog;
    }
    return nullptr;
}

void CFindDlg::LoadHistory()
{
    for (int n = 1; n <= kHistorySize; ++n) {
        const std::string text = store_.ReadString("Find", HistoryKey(n), "");
        if (text.empty())
            break;
        text_->insertItem(n - 1, QString::fromStdString(text));
    }
    if (text_->count() > 0) {
        text_->setCurrentIndex(0);
        text_->setEditText(text_->itemText(0));
        findNext_->setEnabled(true);
    }
}

void CFindDlg::SaveHistory()
{
    for (int position = 0; position < kHistorySize; ++position) {
        if (position >= text_->count()) {
            store_.WriteString("Find", HistoryKey(position + 1), "");
            break;
        }
        store_.WriteString("Find", HistoryKey(position + 1), text_->itemText(position).toStdString());
    }
    store_.Sync();
}

void CFindDlg::FindNext()
{
    const QString text = text_->currentText();
    if (text.isEmpty())
        return;
    // The text goes to the top of the history, once (an entry that differs
    // only in case is the same entry).
    const int existing = text_->findText(text, Qt::MatchFixedString);
    if (existing >= 0)
        text_->removeItem(existing);
    // A full list drops its oldest entry.
    if (text_->count() >= kHistorySize)
        text_->removeItem(text_->count() - 1);
    text_->insertItem(0, text);
    text_->setCurrentIndex(0);
    text_->setEditText(text);
    SaveHistory();

    CCacheListView& list = *frame_.List();
    lastFound_ = list.FindItem(text.toStdString(), matchCase_->isChecked(), wrap_->isChecked(), lastFound_ + 1);
    if (lastFound_ < 0) {
        const QString message = QString::fromUtf8(LoadString(IDS_SEARCH_NOT_FOUND));
        if (notFound_)
            notFound_(message);
        else
            QMessageBox::information(this, windowTitle(), message);
        return;
    }
    QAbstractItemView* view = list.CurrentView();
    QItemSelectionModel* selection = view->selectionModel();
    if (!extend_->isChecked())
        selection->clearSelection();
    const QModelIndex found = view->model()->index(lastFound_, 0);
    selection->select(found, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->scrollTo(found, QAbstractItemView::EnsureVisible);
    // The status bar counts the selection; the lower pane stays as it is.
    frame_.UpdateStatusText();
}

void CFindDlg::reject()
{
    closed_ = true;
    QDialog::reject();
    frame_.List()->CurrentView()->setFocus();
    deleteLater();
}

} // namespace oriel
