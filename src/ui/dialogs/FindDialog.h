// "Find": a modeless dialog over the item list that finds the next row
// whose first column holds a text, selects it, and keeps the last 20
// search texts (section "Find", keys "Prev1" to "Prev20", most recent
// first).
#pragma once

#include <QDialog>

#include <functional>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace oriel {

class CCacheFrame;
class OptionStore;

class CFindDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHistorySize = 20;

    // Owned by the frame; the history is loaded from `store` now.
    CFindDlg(CCacheFrame& frame, OptionStore& store);

    // The frame's open Find dialog, or null (one that was cancelled is
    // gone already).
    static CFindDlg* OpenDialog(CCacheFrame& frame);

    void FindNext();
    // The row of the last match; -1 before the first search and after a
    // failed one.
    int LastFound() const { return lastFound_; }

    // Shows "Search string not found." (an information box by default).
    void SetNotFoundPresenter(std::function<void(const QString& text)> presenter)
    {
        notFound_ = std::move(presenter);
    }

    QComboBox* SearchBox() const { return text_; }
    QCheckBox* ExtendSelection() const { return extend_; }
    QCheckBox* MatchCase() const { return matchCase_; }
    QCheckBox* WrapToStart() const { return wrap_; }
    QPushButton* FindNextButton() const { return findNext_; }

    void reject() override;

private:
    void LoadHistory();
    void SaveHistory();

    CCacheFrame& frame_;
    OptionStore& store_;
    int lastFound_ = -1;
    bool closed_ = false;
    std::function<void(const QString&)> notFound_;
    QComboBox* text_ = nullptr;
    QCheckBox* extend_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QCheckBox* wrap_ = nullptr;
    QPushButton* findNext_ = nullptr;
};

} // namespace oriel
