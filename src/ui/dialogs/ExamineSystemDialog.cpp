#include "ui/dialogs/ExamineSystemDialog.h"

#include "app/StringTable.h"
#include "app/SystemSetup.h"
#include "platform/FileSystem.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
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

std::string S(const QString& s)
{
    return s.toUtf8().toStdString();
}

} // namespace

CExamineSystemDlg::CExamineSystemDlg(const platform::SystemConfig& config, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Examine System"));
    setObjectName(QStringLiteral("ExamineSystemDialog"));

    auto* intro = new QLabel(tr("The top folder of the examined Windows system drive (where \"Windows\" and "
                                "\"Users\" or \"Documents and Settings\" are): a mounted disk or image, mounted "
                                "read-only, or a copied tree. Leave it empty to examine no system."),
                             this);
    intro->setWordWrap(true);

    root_ = new QLineEdit(Q(config.root), this);
    root_->setObjectName(QStringLiteral("root"));
    root_->setMinimumWidth(360);
    auto* rootBrowse = new QPushButton(tr("&Browse..."), this);
    rootBrowse->setAutoDefault(false);
    auto* rootRow = new QHBoxLayout;
    rootRow->addWidget(root_, 1);
    rootRow->addWidget(rootBrowse);

    user_ = new QComboBox(this);
    user_->setObjectName(QStringLiteral("user"));
    user_->setEditable(true);
    user_->setInsertPolicy(QComboBox::NoInsert);
    user_->lineEdit()->setPlaceholderText(tr("the only or the first user"));
    usersNote_ = new QLabel(this);
    auto* userColumn = new QVBoxLayout;
    userColumn->addWidget(user_);
    userColumn->addWidget(usersNote_);

    drives_ = new QLineEdit(Q(DrivesText(config.drives)), this);
    drives_->setObjectName(QStringLiteral("drives"));
    drives_->setPlaceholderText(tr("D=/mnt/d;E=/media/e"));

    regFiles_ = new QListWidget(this);
    regFiles_->setObjectName(QStringLiteral("registryFiles"));
    regFiles_->setMaximumHeight(90);
    for (const std::string& file : config.registryFiles)
        regFiles_->addItem(Q(file));
    auto* addReg = new QPushButton(tr("&Add..."), this);
    addReg->setAutoDefault(false);
    removeReg_ = new QPushButton(tr("&Remove"), this);
    removeReg_->setAutoDefault(false);
    auto* regButtons = new QVBoxLayout;
    regButtons->addWidget(addReg);
    regButtons->addWidget(removeReg_);
    regButtons->addStretch(1);
    auto* regRow = new QHBoxLayout;
    regRow->addWidget(regFiles_, 1);
    regRow->addLayout(regButtons);

    // Each label's key goes to its field.
    auto label = [this](const QString& text, QWidget* buddy) {
        auto* created = new QLabel(text, this);
        created->setBuddy(buddy);
        return created;
    };
    auto* form = new QFormLayout;
    form->addRow(label(tr("&Root folder:"), root_), rootRow);
    form->addRow(label(tr("&User:"), user_), userColumn);
    form->addRow(label(tr("Further &drives:"), drives_), drives_);
    form->addRow(label(tr("Registry &exports:"), regFiles_), regRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CExamineSystemDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CExamineSystemDlg::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);

    RefreshUsers();
    user_->setEditText(Q(config.user));

    connect(root_, &QLineEdit::editingFinished, this, &CExamineSystemDlg::RefreshUsers);
    connect(rootBrowse, &QPushButton::clicked, this, [this] {
        const QString chosen = PickFolder(this, Text(IDS_SELECT_SYSTEM_ROOT), root_->text());
        if (!chosen.isEmpty()) {
            root_->setText(chosen);
            RefreshUsers();
        }
    });
    regPicker_ = [](QWidget* parent) {
        return QFileDialog::getOpenFileNames(parent, tr("Registry exports"), QString(), Text(IDS_REG_FILE_FILTER));
    };
    connect(addReg, &QPushButton::clicked, this, [this] {
        for (const QString& file : regPicker_ ? regPicker_(this) : QStringList()) {
            if (regFiles_->findItems(file, Qt::MatchExactly).isEmpty())
                regFiles_->addItem(file);
        }
    });
    connect(removeReg_, &QPushButton::clicked, this, [this] { delete regFiles_->currentItem(); });
}

void CExamineSystemDlg::RefreshUsers()
{
    // The users as oriel-cli users lists them: the profiles with a hive
    // under "Users" and "Documents and Settings".
    const QString typed = user_->currentText();
    user_->clear();
    platform::SystemConfig probe;
    probe.root = S(root_->text().trimmed());
    const platform::WindowsSystem system(probe);
    for (const platform::UserProfile& user : system.Users())
        user_->addItem(Q(user.name));
    usersNote_->setText(system.HasSystem() && system.Users().empty() ? Text(IDS_NO_USERS_FOUND) : QString());
    usersNote_->setVisible(!usersNote_->text().isEmpty());
    user_->setEditText(typed);
}

platform::SystemConfig CExamineSystemDlg::Config() const
{
    platform::SystemConfig config;
    config.root = S(root_->text().trimmed());
    if (config.root.size() > 1 && config.root.back() == '/')
        config.root.pop_back();
    config.user = S(user_->currentText().trimmed());
    platform::SystemConfig::ParseDrives(S(drives_->text()), config.drives);
    for (int i = 0; i < regFiles_->count(); ++i)
        config.registryFiles.push_back(S(regFiles_->item(i)->text()));
    return config;
}

void CExamineSystemDlg::accept()
{
    // A root that is no folder, or a drive entry that cannot be read, is
    // said at once; the dialog stays open.
    const std::string root = S(root_->text().trimmed());
    if (!root.empty()) {
        auto attributes = platform::GetFileAttributes(root);
        if (!attributes || !attributes->isDirectory) {
            QMessageBox::warning(this, windowTitle(), tr("No such folder: %1").arg(Q(root)));
            return;
        }
    }
    std::map<char, std::string> drives;
    std::string error;
    if (!platform::SystemConfig::ParseDrives(S(drives_->text()), drives, &error)) {
        QMessageBox::warning(this, windowTitle(), Q(error));
        return;
    }
    QDialog::accept();
}

} // namespace oriel
