// "Examine System": the Windows system the window examines. The top
// folder of its system drive (a mounted disk or image, or a copied tree),
// the user, chosen from the profiles found under that folder, further
// drive letters and registry exports (.reg) read over the hives.
#pragma once

#include "platform/WindowsSystem.h"
#include "ui/dialogs/FolderPicker.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace oriel {

class CExamineSystemDlg : public QDialog {
    Q_OBJECT
public:
    explicit CExamineSystemDlg(const platform::SystemConfig& config, QWidget* parent = nullptr);

    // The system as the controls name it.
    platform::SystemConfig Config() const;

    // Asked for .reg files (empty: cancelled).
    void SetRegFilePicker(std::function<QStringList(QWidget*)> picker) { regPicker_ = std::move(picker); }

    QLineEdit* RootEdit() const { return root_; }
    QComboBox* UserBox() const { return user_; }
    QLineEdit* DrivesEdit() const { return drives_; }
    QListWidget* RegFiles() const { return regFiles_; }

    // The user list from the profiles under the root in the edit.
    void RefreshUsers();

    void accept() override;

private:
    QLineEdit* root_ = nullptr;
    QComboBox* user_ = nullptr;
    QLabel* usersNote_ = nullptr;
    QLineEdit* drives_ = nullptr;
    QListWidget* regFiles_ = nullptr;
    QPushButton* removeReg_ = nullptr;
    std::function<QStringList(QWidget*)> regPicker_;
};

} // namespace oriel
