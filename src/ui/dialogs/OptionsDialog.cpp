#include "ui/dialogs/OptionsDialog.h"

#include "app/AppOptions.h"
#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "ui/dialogs/FolderPicker.h"
#include "ui/dialogs/HelpWindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

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

QCheckBox* NewCheckBox(const QString& text, const char* name, QWidget* parent)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

QRadioButton* NewRadio(const QString& text, const char* name, QButtonGroup* group, int value, QWidget* parent)
{
    auto* radio = new QRadioButton(text, parent);
    radio->setObjectName(QLatin1String(name));
    group->addButton(radio, value);
    return radio;
}

} // namespace

bool ProgramFileFilter::IsListed(const QFileInfo& info)
{
    // Folders to walk through; files with an execute permission (a
    // program, a script), whatever their name ends in.
    return info.isDir() || (info.isFile() && info.isExecutable());
}

bool ProgramFileFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    auto* files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (!files)
        return true;
    return IsListed(files->fileInfo(files->index(sourceRow, 0, sourceParent)));
}

std::string FolderWithoutTrailingSeparator(std::string folder)
{
    if (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder;
}

QString COptionsDlg::DefaultFolderPicker(QWidget* parent, const QString& current)
{
    return PickFolder(parent, Text(IDS_SELECT_NETSCAPE_FOLDER), current);
}

QString COptionsDlg::DefaultProgramPicker(QWidget* parent, const QString& current)
{
    QFileDialog dialog(parent, Text(IDS_SELECT_PROGRAM));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The filter lists what can be run, so the dialog is Qt's own (a
    // native one would not take it).
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.setNameFilter(Text(IDS_PROGRAM_FILTER));
    dialog.setProxyModel(new ProgramFileFilter(&dialog));
    const QFileInfo info(current);
    if (!current.isEmpty() && info.exists())
        dialog.selectFile(info.absoluteFilePath());
    else
        dialog.setDirectory(QFileInfo(QStringLiteral("/usr/bin")).isDir() ? QStringLiteral("/usr/bin") : QDir::rootPath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

COptionsDlg::COptionsDlg(AppOptions& options, OptionStore& store, int defaultAction, std::function<void()> rebuild,
                         QWidget* parent)
    : QDialog(parent)
    , options_(options)
    , store_(store)
    , defaultAction_(defaultAction)
    , rebuild_(std::move(rebuild))
    , folderPicker_(&COptionsDlg::DefaultFolderPicker)
    , programPicker_(&COptionsDlg::DefaultProgramPicker)
    , helpOpener_([] { CHelpWindow::ShowContents(QStringLiteral("options")); })
{
    setWindowTitle(tr("Oriel Options"));
    setObjectName(QStringLiteral("OptionsDialog"));

    // Default Action.
    auto* actionBox = new QGroupBox(tr("Default Action"), this);
    auto* actionLayout = new QGridLayout(actionBox);
    actionGroup_ = new QButtonGroup(this);
    actionLayout->addWidget(NewRadio(tr("Open &File with associated program"), "openFile", actionGroup_, 0, actionBox), 0, 0, 1, 2);
    actionLayout->addWidget(NewRadio(tr("Open &URL in default browser"), "openUrl", actionGroup_, 1, actionBox), 1, 0, 1, 2);
    actionLayout->addWidget(NewRadio(tr("Open file with pro&gram:"), "openWithProgram", actionGroup_, 2, actionBox), 2, 0, 1, 2);
    programEdit_ = new QLineEdit(actionBox);
    programEdit_->setObjectName(QStringLiteral("programPath"));
    programEdit_->setMinimumWidth(260);
    programBrowse_ = new QPushButton(tr("Browse..."), actionBox);
    programBrowse_->setObjectName(QStringLiteral("programBrowse"));
    programBrowse_->setAutoDefault(false);
    actionLayout->addWidget(programEdit_, 3, 0);
    actionLayout->addWidget(programBrowse_, 3, 1);

    // Displayed Cache Directories.
    auto* displayBox = new QGroupBox(tr("Displayed Cache Directories"), this);
    auto* displayLayout = new QGridLayout(displayBox);
    displayGroup_ = new QButtonGroup(this);
    displayLayout->addWidget(NewRadio(tr("&Show all browsers using profile settings"), "showAllBrowsers", displayGroup_, 0, displayBox), 0, 0, 1, 2);
    displayLayout->addWidget(NewRadio(tr("Show Internet E&xplorer cache only"), "showIEOnly", displayGroup_, 1, displayBox), 1, 0, 1, 2);
    displayLayout->addWidget(NewRadio(tr("Show browser &cache in this folder :"), "showFolder", displayGroup_, 2, displayBox), 2, 0, 1, 2);
    folderEdit_ = new QLineEdit(displayBox);
    folderEdit_->setObjectName(QStringLiteral("cacheFolder"));
    folderEdit_->setMinimumWidth(260);
    folderBrowse_ = new QPushButton(tr("Browse..."), displayBox);
    folderBrowse_->setObjectName(QStringLiteral("folderBrowse"));
    folderBrowse_->setAutoDefault(false);
    displayLayout->addWidget(folderEdit_, 3, 0);
    displayLayout->addWidget(folderBrowse_, 3, 1);

    // Startup.
    auto* startupBox = new QGroupBox(tr("Startup"), this);
    auto* startupLayout = new QVBoxLayout(startupBox);
    checkVersion_ = NewCheckBox(tr("Check online for new &versions."), "checkVersion", startupBox);
    decodeStartup_ = NewCheckBox(tr("&Decode default cache on startup"), "decodeStartup", startupBox);
    ignoreUnsupported_ = NewCheckBox(tr("&Ignore errors during cache decoding."), "ignoreUnsupported", startupBox);
    startupLayout->addWidget(checkVersion_);
    startupLayout->addWidget(decodeStartup_);
    startupLayout->addWidget(ignoreUnsupported_);

    // Copy and Move.
    auto* copyBox = new QGroupBox(tr("Copy and Move"), this);
    auto* copyLayout = new QVBoxLayout(copyBox);
    usePathNames_ = NewCheckBox(tr("Copy and move files with original file&names"), "usePathNames", copyBox);
    extractNames_ = NewCheckBox(tr("Copy and move files with original &paths"), "extractNames", copyBox);
    useServerInPath_ = NewCheckBox(tr("Include the &webserver name in the destination path"), "useServerInPath", copyBox);
    copyLayout->addWidget(usePathNames_);
    copyLayout->addWidget(extractNames_);
    copyLayout->addWidget(useServerInPath_);

    // Cache Cleanup.
    auto* cleanupBox = new QGroupBox(tr("Cache Cleanup"), this);
    auto* cleanupLayout = new QVBoxLayout(cleanupBox);
    fastDelete_ = NewCheckBox(tr("Delete all files from cache folder to e&mpty cache"), "fastDelete", cleanupBox);
    removeDB_ = NewCheckBox(tr("D&elete cache database files when emptying cache"), "removeDB", cleanupBox);
    deleteOnlyDefault_ = NewCheckBox(tr("&Only delete the default profile"), "deleteOnlyDefault", cleanupBox);
    cleanupLayout->addWidget(fastDelete_);
    cleanupLayout->addWidget(removeDB_);
    cleanupLayout->addWidget(deleteOnlyDefault_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
        if (helpOpener_)
            helpOpener_();
    });

    auto* grid = new QGridLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(actionBox);
    left->addWidget(displayBox);
    left->addStretch(1);
    grid->addLayout(left, 0, 0, 2, 1);
    auto* right = new QVBoxLayout;
    right->addWidget(startupBox);
    right->addWidget(copyBox);
    right->addWidget(cleanupBox);
    right->addStretch(1);
    grid->addLayout(right, 0, 1, 2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    // The values: the default action from the window, "DecodeStartup" from
    // the store (with start-up's default), the rest from the application.
    if (QAbstractButton* action = actionGroup_->button(defaultAction_))
        action->setChecked(true);
    programEdit_->setText(Q(options_.quickView));
    if (QAbstractButton* display = displayGroup_->button(options_.useProfiles))
        display->setChecked(true);
    folderEdit_->setText(Q(options_.cacheFolder));
    checkVersion_->setChecked(options_.checkVersionOnStartup != 0);
    decodeStartup_->setChecked(store_.ReadInt("Options", "DecodeStartup", 1) != 0);
    usePathNames_->setChecked(options_.usePathNames != 0);
    extractNames_->setChecked(options_.extractNames != 0);
    useServerInPath_->setChecked(options_.useServerInPath != 0);
    fastDelete_->setChecked(options_.fastDelete != 0);
    removeDB_->setChecked(options_.removeDB != 0);
    deleteOnlyDefault_->setChecked(options_.deleteOnlyDefault != 0);
    ignoreUnsupported_->setChecked(options_.ignoreUnsupported != 0);
    UpdateEnabling();

    connect(displayGroup_, &QButtonGroup::idClicked, this, [this](int) { UpdateEnabling(); });
    connect(usePathNames_, &QCheckBox::toggled, this, [this](bool) { UpdateEnabling(); });
    connect(fastDelete_, &QCheckBox::toggled, this, [this](bool) { UpdateEnabling(); });
    connect(folderBrowse_, &QPushButton::clicked, this, &COptionsDlg::OnBrowseFolder);
    connect(programBrowse_, &QPushButton::clicked, this, &COptionsDlg::OnBrowseProgram);
}

void COptionsDlg::UpdateEnabling()
{
    // The folder only for "in this folder"; the two naming refinements only
    // with original file names; keeping the database files only when the
    // cache is emptied item by item.
    const bool folder = displayGroup_->checkedId() == 2;
    folderEdit_->setEnabled(folder);
    folderBrowse_->setEnabled(folder);
    extractNames_->setEnabled(usePathNames_->isChecked());
    useServerInPath_->setEnabled(usePathNames_->isChecked());
    removeDB_->setEnabled(!fastDelete_->isChecked());
}

void COptionsDlg::OnBrowseFolder()
{
    const QString chosen = folderPicker_ ? folderPicker_(this, folderEdit_->text()) : QString();
    if (!chosen.isEmpty())
        folderEdit_->setText(Q(FolderWithoutTrailingSeparator(S(chosen))));
}

void COptionsDlg::OnBrowseProgram()
{
    const QString chosen = programPicker_ ? programPicker_(this, programEdit_->text()) : QString();
    if (!chosen.isEmpty())
        programEdit_->setText(chosen);
}

void COptionsDlg::accept()
{
    // The window's default action.
    defaultAction_ = std::max(0, actionGroup_->checkedId());
    store_.WriteInt("Options", "DefaultAction", defaultAction_);

    // The program ("Quickview" names the same value as "QuickView").
    options_.quickView = S(programEdit_->text());
    store_.WriteString("Options", "Quickview", options_.quickView);

    // The displayed folders: the profiles are rebuilt only when the choice
    // or the folder (compared exactly) changed.
    const std::string folder = FolderWithoutTrailingSeparator(S(folderEdit_->text()));
    const int display = std::max(0, displayGroup_->checkedId());
    if (display != options_.useProfiles || folder != options_.cacheFolder) {
        options_.cacheFolder = folder;
        options_.useProfiles = display;
        rebuilt_ = true;
        if (rebuild_)
            rebuild_();
    }
    store_.WriteString("Netscape", "Cache", folder);
    store_.WriteInt("Netscape", "UseProfiles", display);

    auto keep = [this](int& value, QCheckBox* box, const char* key) {
        value = box->isChecked() ? 1 : 0;
        store_.WriteInt("Options", key, value);
    };
    keep(options_.usePathNames, usePathNames_, "UsePathNames");
    keep(options_.extractNames, extractNames_, "ExtractNames");
    keep(options_.useServerInPath, useServerInPath_, "UseServerInPath");
    keep(options_.removeDB, removeDB_, "RemoveDB");
    keep(options_.fastDelete, fastDelete_, "FastDelete");
    keep(options_.checkVersionOnStartup, checkVersion_, "CheckVersionOnStartup");
    store_.WriteInt("Options", "DecodeStartup", decodeStartup_->isChecked() ? 1 : 0);
    keep(options_.deleteOnlyDefault, deleteOnlyDefault_, "DeleteOnlyDefault");
    keep(options_.ignoreUnsupported, ignoreUnsupported_, "IgnoreUnsupported");
    store_.Sync();
    QDialog::accept();
}

} // namespace oriel
