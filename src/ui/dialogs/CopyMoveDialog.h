// The copy/move dialog: the destination folder (an editable history of the
// last 20 folders, kept in "CopyMoveDirs" as Prev1 to Prev20), Browse, the
// Copy and Move choice, and one editable destination name per item, newest
// source first. On OK the history is saved and Requests() gives the job's
// input; the caller runs the CopyMoveJob.
#pragma once

#include "ops/CopyMoveJob.h"
#include "ops/DestName.h"

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QRadioButton;
class QTreeWidget;

namespace oriel {

class CCacheItem;
class CFileTypeIcons;
class OptionStore;

class CCopyMoveDlg : public QDialog {
    Q_OBJECT
public:
    enum Operation { kCopy = 0, kMove = 1 };
    static constexpr int kHistorySize = 20;

    CCopyMoveDlg(OptionStore& store, const DestNameOptions& names, int operation, CFileTypeIcons* icons,
                 QWidget* parent = nullptr);

    // Rows for the items whose bodies exist, each inserted at the top.
    void FillList(const std::vector<CCacheItem*>& items);

    int GetOperation() const { return operation_; }
    void SetOperation(int operation);
    // The folder as OK took it (no trailing separator).
    const std::string& Folder() const { return folder_; }
    const std::vector<std::string>& History() const { return history_; }
    // A folder picked with Browse: to the front of the history and the box,
    // kept as picked (names are case-sensitive here).
    void AddBrowsedFolder(const std::string& folder);
    // The rows in order: item and the destination name as edited.
    std::vector<CopyRequest> Requests() const;

    QComboBox* FolderBox() const { return folderBox_; }
    QTreeWidget* Rows() const { return rows_; }

public slots:
    void accept() override;

private:
    void OnBrowse();
    void LoadHistory();
    void SaveHistory();
    void PushHistory(const std::string& folder);

    OptionStore& store_;
    DestNameOptions names_;
    int operation_;
    CFileTypeIcons* icons_;
    QComboBox* folderBox_ = nullptr;
    QRadioButton* copyButton_ = nullptr;
    QRadioButton* moveButton_ = nullptr;
    QTreeWidget* rows_ = nullptr;
    std::vector<std::string> history_;
    std::string folder_;
};

} // namespace oriel
