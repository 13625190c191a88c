// The empty-cache progress dialog of the "/EMPTY" run: a status line, a
// progress bar and Cancel. It owns its own profile collection and empties
// the profiles' caches on a worker (EmptyProfilesJob), each cache decoded
// on its own decode thread with messages off unless "FastDelete" is on;
// with "DeleteOnlyDefault" only the default profile's. Cancel stops the
// profile being worked on at its next stop check and skips the rest; the
// dialog closes only once the worker has ended.
#pragma once

#include "model/Progress.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace oriel {

class EmptyProfilesJob;
class ProfileCollection;

// The dialog's progress bar as the worker and the decode threads see it:
// they store the values, the dialog's timer shows them.
class DialogProgress : public Progress {
public:
    void SetRange(int lower, int upper) override;
    void SetPos(int position) override;
    void OffsetPos(int delta) override;
    void StepIt() override;
    void ShowOn(QProgressBar* bar) const;

private:
    std::atomic<int> lower_{0};
    std::atomic<int> upper_{100};
    std::atomic<int> pos_{0};
};

class EmptyCacheDialog : public QDialog {
    Q_OBJECT
public:
    EmptyCacheDialog(std::unique_ptr<ProfileCollection> profiles, bool fastDelete, bool deleteOnlyDefault,
                     QWidget* parent = nullptr);
    ~EmptyCacheDialog() override;

    QString StatusText() const;
    QProgressBar* ProgressBar() const { return bar_; }
    QPushButton* CancelButton() const { return cancel_; }
    bool Cancelled() const { return cancelled_; }
    bool WorkerRunning() const;
    // The profiles whose caches were emptied, by name, once the worker ended.
    std::vector<std::string> EmptiedProfiles() const;
    ProfileCollection& Profiles() const { return *profiles_; }

signals:
    void WorkerEnded();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    // Cancel and the close request: stop the worker; close once it ended.
    void reject() override;

private:
    void StartWorker();
    void OnWorkerEnded();

    std::unique_ptr<ProfileCollection> profiles_;
    bool fastDelete_;
    bool deleteOnlyDefault_;
    QLabel* status_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QTimer* repaint_ = nullptr;
    DialogProgress progress_;
    std::unique_ptr<EmptyProfilesJob> worker_;
    std::atomic<bool> cancelled_{false};
    bool ended_ = false;
};

// The "/EMPTY" run: the dialog over the profiles, modal; returns when it has
// closed.
void RunEmptyCacheDialog(std::unique_ptr<ProfileCollection> profiles);

} // namespace oriel
