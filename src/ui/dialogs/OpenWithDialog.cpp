#include "ui/dialogs/OpenWithDialog.h"

#include "app/StringTable.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

QString Q(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// A program without an icon of its own.
QIcon ProgramIcon()
{
    return QIcon::fromTheme(QStringLiteral("application-x-executable"), QIcon(QStringLiteral(":/oriel/icons/program.svg")));
}

// A desktop entry's icon: a theme name or an absolute path.
QIcon AppIcon(const std::string& icon)
{
    const QString name = Q(icon);
    if (name.startsWith(u'/'))
        return QIcon(name);
    QIcon themed = QIcon::fromTheme(name);
    return themed.isNull() ? ProgramIcon() : themed;
}

} // namespace

COpenWithDlg::COpenWithDlg(const std::string& mimeType, const std::string& filePath, const std::string& itemName,
                           QWidget* parent)
    : QDialog(parent)
    , filePath_(filePath)
    , apps_(platform::AppsForMimeType(mimeType))
{
    setWindowTitle(Text(IDS_OPEN_WITH_TITLE));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(Text(IDS_OPEN_WITH_PROMPT), this));
    const QString name = itemName.empty() ? QFileInfo(Q(filePath)).fileName() : Q(itemName);
    auto* file = new QLabel(QStringLiteral("<b>%1</b><br>%2").arg(name.toHtmlEscaped(), Q(mimeType).toHtmlEscaped()),
                            this);
    file->setTextFormat(Qt::RichText);
    file->setToolTip(Q(filePath));
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(file);

    list_ = new QListWidget(this);
    list_->setIconSize(QSize(24, 24));
    list_->setMinimumSize(360, 220);
    for (const platform::DesktopApp& app : apps_) {
        QString name = Q(app.name);
        if (app.isDefault)
            name += Text(IDS_OPEN_WITH_DEFAULT);
        auto* row = new QListWidgetItem(AppIcon(app.icon), name, list_);
        row->setToolTip(Q(app.exec));
    }
    layout->addWidget(list_, 1);
    none_ = new QLabel(Text(IDS_OPEN_WITH_NONE), this);
    none_->setVisible(apps_.empty());
    layout->addWidget(none_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    other_ = buttons->addButton(Text(IDS_OPEN_WITH_OTHER), QDialogButtonBox::ActionRole);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    connect(other_, &QPushButton::clicked, this, &COpenWithDlg::OnOther);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { ok_->setEnabled(row >= 0); });
    layout->addWidget(buttons);

    if (!apps_.empty())
        list_->setCurrentRow(0);
    ok_->setEnabled(list_->currentRow() >= 0);
}

void COpenWithDlg::AddOtherProgram(const std::string& program)
{
    others_.push_back(program);
    auto* row = new QListWidgetItem(ProgramIcon(), QFileInfo(Q(program)).fileName(), list_);
    row->setToolTip(Q(program));
    list_->setCurrentItem(row);
    none_->hide();
}

void COpenWithDlg::OnOther()
{
    QFileDialog picker(this, Text(IDS_OPEN_WITH_PICK_PROGRAM), QStringLiteral("/usr/bin"));
    picker.setFileMode(QFileDialog::ExistingFile);
    // Programs are told by their execute permission, not by a name pattern.
    picker.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    if (picker.exec() != QDialog::Accepted || picker.selectedFiles().isEmpty())
        return;
    const QFileInfo chosen(picker.selectedFiles().front());
    if (chosen.isFile() && chosen.isExecutable())
        AddOtherProgram(chosen.absoluteFilePath().toStdString());
}

std::vector<std::string> COpenWithDlg::Command() const
{
    const int row = list_->currentRow();
    if (row < 0)
        return {};
    if (size_t(row) < apps_.size())
        return platform::LaunchCommand(apps_[size_t(row)], filePath_);
    const size_t other = size_t(row) - apps_.size();
    if (other < others_.size())
        return {others_[other], filePath_};
    return {};
}

} // namespace oriel
