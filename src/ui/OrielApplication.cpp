#include "ui/OrielApplication.h"

#include "app/StringTable.h"
#include "ui/VersionCheck.h"
#include "ui/WindowLog.h"

#include <QMessageBox>

#include <exception>
#include <string>

namespace oriel {

namespace {

constexpr size_t kMaxErrorText = 2047;

} // namespace

COrielApplication::COrielApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool COrielApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ReportUnhandledException(error.what());
    } catch (...) {
        ReportUnhandledException(nullptr);
    }
    return false;
}

void COrielApplication::ReportUnhandledException(const char* what)
{
    Trace(LoadString(IDS_UNHANDLED_EXCEPTION));
    std::string text = what ? std::string(what).substr(0, kMaxErrorText) : std::string();
    if (!text.empty())
        Trace(text);
    const QString message = QString::fromUtf8(LoadString(IDS_UNHANDLED_EXCEPTION_BOX)) +
                            (text.empty() ? QString::fromUtf8(LoadString(IDS_UNHANDLED_EXCEPTION))
                                          : QString::fromStdString(text));
    if (errorPresenter_) {
        errorPresenter_(message);
        return;
    }
    QMessageBox::critical(activeWindow(), QString::fromUtf8(LoadString(IDS_APP_TITLE)), message);
}

bool COrielApplication::event(QEvent* event)
{
    if (event->type() == NewVersionEvent::kType) {
        const auto& news = static_cast<const NewVersionEvent&>(*event);
        if (newVersionPresenter_)
            newVersionPresenter_(news);
        else
            AskToOpenDownloadPage(activeWindow(), news.Server());
        return true;
    }
    return QApplication::event(event);
}

} // namespace oriel
