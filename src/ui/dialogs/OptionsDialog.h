// "Oriel Options": the window's default action, the displayed cache
// folders, the start-up, copy/move and cleanup options. Modal; OK writes
// every option at once and has the profiles rebuilt only when the display
// choice or the folder changed.
#pragma once

#include <QDialog>
#include <QSortFilterProxyModel>

#include <functional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QFileInfo;
class QLineEdit;
class QPushButton;

namespace oriel {

struct AppOptions;
class OptionStore;

// Folders, and the files that can be run: what the program picker lists.
class ProgramFileFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    static bool IsListed(const QFileInfo& info);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
};

// A folder as it is kept: without one trailing separator ("\" or "/"),
// except for the file system's root "/" itself ("D:\" becomes "D:").
std::string FolderWithoutTrailingSeparator(std::string folder);

class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    // Asked for a folder or a program: the current text in, the choice
    // out (empty: cancelled).
    using Picker = std::function<QString(QWidget* parent, const QString& current)>;

    // `defaultAction` is the window's; `rebuild` runs when OK changed the
    // display choice or the folder (after the options have taken the new
    // values).
    COptionsDlg(AppOptions& options, OptionStore& store, int defaultAction, std::function<void()> rebuild,
                QWidget* parent = nullptr);

    // The window's default action as OK left it.
    int DefaultAction() const { return defaultAction_; }
    // Whether OK had the profiles rebuilt.
    bool Rebuilt() const { return rebuilt_; }

    void SetFolderPicker(Picker picker) { folderPicker_ = std::move(picker); }
    void SetProgramPicker(Picker picker) { programPicker_ = std::move(picker); }
    // What "Help" opens (the options' page of the manual by default).
    void SetHelpOpener(std::function<void()> opener) { helpOpener_ = std::move(opener); }

    static QString DefaultFolderPicker(QWidget* parent, const QString& current);
    static QString DefaultProgramPicker(QWidget* parent, const QString& current);

    void accept() override;

private:
    void UpdateEnabling();
    void OnBrowseFolder();
    void OnBrowseProgram();

    AppOptions& options_;
    OptionStore& store_;
    int defaultAction_;
    std::function<void()> rebuild_;
    bool rebuilt_ = false;
    Picker folderPicker_;
    Picker programPicker_;
    std::function<void()> helpOpener_;

    QButtonGroup* actionGroup_ = nullptr;
    QLineEdit* programEdit_ = nullptr;
    QPushButton* programBrowse_ = nullptr;
    QButtonGroup* displayGroup_ = nullptr;
    QLineEdit* folderEdit_ = nullptr;
    QPushButton* folderBrowse_ = nullptr;
    QCheckBox* checkVersion_ = nullptr;
    QCheckBox* decodeStartup_ = nullptr;
    QCheckBox* usePathNames_ = nullptr;
    QCheckBox* extractNames_ = nullptr;
    QCheckBox* useServerInPath_ = nullptr;
    QCheckBox* fastDelete_ = nullptr;
    QCheckBox* removeDB_ = nullptr;
    QCheckBox* deleteOnlyDefault_ = nullptr;
    QCheckBox* ignoreUnsupported_ = nullptr;
};

} // namespace oriel
