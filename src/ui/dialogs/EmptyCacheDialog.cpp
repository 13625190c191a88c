#include "ui/dialogs/EmptyCacheDialog.h"

#include "app/OptionStore.h"
#include "app/StringTable.h"
#include "model/BrowserProfile.h"
#include "ops/EmptyJob.h"
#include "ui/Document.h"
#include "ui/WindowLog.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

// Milliseconds between two repaints of the progress bar.
constexpr int kRepaintInterval = 40;

} // namespace

void DialogProgress::SetRange(int lower, int upper)
{
    lower_ = lower;
    upper_ = upper;
}

void DialogProgress::SetPos(int position)
{
    pos_ = position;
}

void DialogProgress::OffsetPos(int delta)
{
    pos_ += delta;
}

void DialogProgress::StepIt()
{
    pos_ += 1;
}

void DialogProgress::ShowOn(QProgressBar* bar) const
{
    const int lower = lower_;
    const int upper = std::max(lower, int(upper_));
    bar->setRange(lower, upper);
    bar->setValue(std::clamp(int(pos_), lower, upper));
}

EmptyCacheDialog::EmptyCacheDialog(std::unique_ptr<ProfileCollection> profiles, bool fastDelete,
                                   bool deleteOnlyDefault, QWidget* parent)
    : QDialog(parent)
    , profiles_(std::move(profiles))
    , fastDelete_(fastDelete)
    , deleteOnlyDefault_(deleteOnlyDefault)
{
    setWindowTitle(Text(IDS_EMPTY_CACHE_CAPTION));
    setModal(true);
    status_ = new QLabel(this);
    status_->setMinimumWidth(320);
    bar_ = new QProgressBar(this);
    bar_->setTextVisible(false);
    cancel_ = new QPushButton(Text(IDS_CANCEL), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    connect(cancel_, &QPushButton::clicked, this, &EmptyCacheDialog::reject);
    repaint_ = new QTimer(this);
    repaint_->setInterval(kRepaintInterval);
    connect(repaint_, &QTimer::timeout, this, [this] { progress_.ShowOn(bar_); });
}

EmptyCacheDialog::~EmptyCacheDialog()
{
    // The worker ends before the caches it works on.
    worker_.reset();
}

QString EmptyCacheDialog::StatusText() const
{
    return status_->text();
}

bool EmptyCacheDialog::WorkerRunning() const
{
    return worker_ && !ended_;
}

std::vector<std::string> EmptyCacheDialog::EmptiedProfiles() const
{
    return worker_ && ended_ ? worker_->EmptiedProfiles() : std::vector<std::string>{};
}

void EmptyCacheDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The worker starts once the dialog window exists.
    if (!worker_)
        StartWorker();
}

void EmptyCacheDialog::StartWorker()
{
    std::vector<EmptyProfilesJob::Target> targets;
    auto add = [&targets](BrowserProfile* profile) {
        if (profile)
            targets.push_back({profile->cache.get(), profile->profileName});
    };
    if (deleteOnlyDefault_) {
        // The collection's current profile: the first loaded.
        BrowserProfile* current = profiles_->GetDefaultProfile();
        add(current ? current : profiles_->GetProfile(0));
    } else {
        for (int32_t i = 0; i < profiles_->GetCount(); ++i)
            add(profiles_->GetProfile(i));
    }
    worker_ = std::make_unique<EmptyProfilesJob>(std::move(targets), fastDelete_, &progress_);
    worker_->SetStatusHandler([this](int textId, const std::string& name) {
        const QString text = Text(textId) + QStringLiteral(" ") + QString::fromStdString(name);
        QMetaObject::invokeMethod(this, [this, text] { status_->setText(text); }, Qt::QueuedConnection);
    });
    worker_->SetCompletionHandler([this](const Job&) {
        QMetaObject::invokeMethod(this, &EmptyCacheDialog::OnWorkerEnded, Qt::QueuedConnection);
    });
    if (cancelled_)
        worker_->RequestStop();
    repaint_->start();
    worker_->Start();
}

void EmptyCacheDialog::OnWorkerEnded()
{
    worker_->Wait();
    ended_ = true;
    repaint_->stop();
    progress_.ShowOn(bar_);
    emit WorkerEnded();
    // The worker's own close request.
    done(cancelled_ ? QDialog::Rejected : QDialog::Accepted);
}

void EmptyCacheDialog::reject()
{
    if (WorkerRunning()) {
        Trace("      - EmptyCacheDialog: cancel requested");
        cancelled_ = true;
        worker_->RequestStop();
        // The dialog stays open; it closes on the worker's close request.
        return;
    }
    if (!worker_)
        cancelled_ = true;
    QDialog::reject();
}

void EmptyCacheDialog::closeEvent(QCloseEvent* event)
{
    if (WorkerRunning()) {
        reject();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void RunEmptyCacheDialog(std::unique_ptr<ProfileCollection> profiles)
{
    OptionStore& store = OptionStore::Instance();
    const bool fast = store.ReadInt("Options", "FastDelete", 0) != 0;
    const bool onlyDefault = store.ReadInt("Options", "DeleteOnlyDefault", 0) != 0;
    EmptyCacheDialog dialog(std::move(profiles), fast, onlyDefault);
    dialog.exec();
}

} // namespace oriel
