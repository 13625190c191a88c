#include "ui/dialogs/HelpWindow.h"

#include "app/StringTable.h"

#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace oriel {

namespace {

constexpr int kAnchorRole = Qt::UserRole + 1;

QPointer<CHelpWindow>& TheWindow()
{
    static QPointer<CHelpWindow> window;
    return window;
}

CHelpWindow* Bring()
{
    CHelpWindow* window = TheWindow();
    if (!window) {
        window = new CHelpWindow;
        TheWindow() = window;
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace

CHelpWindow* CHelpWindow::ShowContents(const QString& anchor)
{
    CHelpWindow* window = Bring();
    window->ShowTopic(anchor);
    return window;
}

CHelpWindow* CHelpWindow::ShowSearch()
{
    CHelpWindow* window = Bring();
    window->search_->setFocus();
    window->search_->selectAll();
    return window;
}

CHelpWindow* CHelpWindow::Instance()
{
    return TheWindow();
}

CHelpWindow::CHelpWindow()
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QString::fromUtf8(LoadString(IDS_HELP_TITLE)));
    setWindowIcon(QIcon(QStringLiteral(":/oriel/icons/oriel.svg")));
    resize(900, 620);

    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(tr("Search for..."));
    search_->setClearButtonEnabled(true);
    results_ = new QListWidget(this);
    results_->setObjectName(QStringLiteral("results"));
    results_->hide();
    contents_ = new QTreeWidget(this);
    contents_->setObjectName(QStringLiteral("contents"));
    contents_->setHeaderHidden(true);
    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("text"));
    browser_->setOpenExternalLinks(true);

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(new QLabel(tr("Contents"), left));
    leftLayout->addWidget(contents_, 2);
    leftLayout->addWidget(search_);
    leftLayout->addWidget(results_, 1);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(left);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({240, 660});
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(splitter);

    QFile manual(QStringLiteral(":/oriel/help/manual.html"));
    if (manual.open(QIODevice::ReadOnly))
        browser_->setHtml(QString::fromUtf8(manual.readAll()));
    BuildContents();

    connect(contents_, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { ShowTopic(item->data(0, kAnchorRole).toString()); });
    connect(contents_, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { ShowTopic(item->data(0, kAnchorRole).toString()); });
    connect(search_, &QLineEdit::returnPressed, this, [this] { Search(search_->text()); });
    connect(results_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        ShowTopic(item->data(kAnchorRole).toString());
        // The first of the words found, marked in the text.
        const QString first = search_->text().split(u' ', Qt::SkipEmptyParts).value(0);
        if (!first.isEmpty())
            browser_->find(first);
    });
}

CHelpWindow::~CHelpWindow() = default;

void CHelpWindow::BuildContents()
{
    // The sections are the headings of levels 2 and 3, each with the anchor
    // it holds and the text up to the next heading.
    sections_.clear();
    QTextDocument* document = browser_->document();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 2 || level == 3) {
            Section section;
            section.level = level;
            section.title = block.text().trimmed();
            for (QTextBlock::iterator it = block.begin(); !it.atEnd() && section.anchor.isEmpty(); ++it) {
                const QStringList names = it.fragment().charFormat().anchorNames();
                if (!names.isEmpty())
                    section.anchor = names.front();
            }
            sections_.push_back(section);
        } else if (!sections_.empty()) {
            sections_.back().text += block.text() + u'\n';
        }
    }
    contents_->clear();
    QTreeWidgetItem* parent = nullptr;
    for (const Section& section : sections_) {
        auto* item = new QTreeWidgetItem(QStringList{section.title});
        item->setData(0, kAnchorRole, section.anchor);
        if (section.level == 2 || !parent) {
            contents_->addTopLevelItem(item);
            parent = item;
        } else {
            parent->addChild(item);
        }
    }
    contents_->expandAll();
}

void CHelpWindow::ShowTopic(const QString& anchor)
{
    if (anchor.isEmpty())
        browser_->scrollToAnchor(QStringLiteral("top"));
    else
        browser_->scrollToAnchor(anchor);
}

QStringList CHelpWindow::Search(const QString& terms)
{
    const QStringList words = terms.split(u' ', Qt::SkipEmptyParts);
    QStringList found;
    results_->clear();
    if (words.isEmpty()) {
        results_->hide();
        return found;
    }
    for (const Section& section : sections_) {
        const QString haystack = section.title + u'\n' + section.text;
        bool all = true;
        for (const QString& word : words)
            all = all && haystack.contains(word, Qt::CaseInsensitive);
        if (!all)
            continue;
        auto* item = new QListWidgetItem(section.title, results_);
        item->setData(kAnchorRole, section.anchor);
        found << section.title;
    }
    if (found.isEmpty())
        new QListWidgetItem(tr("(nothing found)"), results_);
    results_->show();
    return found;
}

} // namespace oriel
