// The window's application object: QApplication with the two reactions
// that belong to the whole application. An exception that escapes an event
// handler is logged ("Unhandled exception!" and its text), shown in an
// error box, and the application goes on; a NewVersionEvent from the
// version check asks whether to open the download page.
#pragma once

#include <QApplication>

#include <functional>

namespace oriel {

class NewVersionEvent;

class COrielApplication : public QApplication {
    Q_OBJECT
public:
    COrielApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the error box (a critical message box by default).
    void SetErrorPresenter(std::function<void(const QString& text)> presenter)
    {
        errorPresenter_ = std::move(presenter);
    }
    // Asks about the new version (AskToOpenDownloadPage by default).
    void SetNewVersionPresenter(std::function<void(const NewVersionEvent&)> presenter)
    {
        newVersionPresenter_ = std::move(presenter);
    }

    // The reaction to an escaped exception; `what` may be null (no text).
    void ReportUnhandledException(const char* what);

protected:
    bool event(QEvent* event) override;

private:
    std::function<void(const QString&)> errorPresenter_;
    std::function<void(const NewVersionEvent&)> newVersionPresenter_;
};

} // namespace oriel
