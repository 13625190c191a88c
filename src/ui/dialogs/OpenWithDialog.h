// The Open With chooser: the programs this desktop associates with the
// item's MIME type (platform/DesktopApps.h), the default one first and
// chosen, and "Other program..." to pick any executable. Command() is what
// the choice launches on the prepared file.
#pragma once

#include "platform/DesktopApps.h"

#include <QDialog>

#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace oriel {

class COpenWithDlg : public QDialog {
    Q_OBJECT
public:
    // `itemName` names the item for the user (its URL); `filePath` is the
    // prepared file that is launched.
    COpenWithDlg(const std::string& mimeType, const std::string& filePath, const std::string& itemName,
                 QWidget* parent = nullptr);

    const std::vector<platform::DesktopApp>& Apps() const { return apps_; }
    // A program picked through "Other program..." (or given by a test): a
    // row of its own at the end of the list, chosen.
    void AddOtherProgram(const std::string& program);
    // The chosen row's program and arguments on the file; empty when
    // nothing is chosen.
    std::vector<std::string> Command() const;

    QListWidget* Programs() const { return list_; }
    QPushButton* OtherButton() const { return other_; }

private:
    void OnOther();

    std::string filePath_;
    std::vector<platform::DesktopApp> apps_;
    std::vector<std::string> others_; // rows after the desktop's apps
    QListWidget* list_ = nullptr;
    QLabel* none_ = nullptr;
    QPushButton* other_ = nullptr;
    QPushButton* ok_ = nullptr;
};

} // namespace oriel
