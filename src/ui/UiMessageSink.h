// Messages and questions from the core as message boxes. A message raised
// on a worker thread (a decode on its own thread) is shown by the window's
// thread while the worker waits for the answer.
#pragma once

#include "app/Messages.h"

#include <QObject>
#include <QString>

#include <functional>

namespace oriel {

class UiMessageSink : public QObject, public MessageSink {
    Q_OBJECT
public:
    // Shows one box and returns true for Yes (questions) or OK.
    using Presenter = std::function<bool(const QString& text, MessageIcon icon, bool question)>;

    // Create on the window's thread. Without a presenter, QMessageBox.
    explicit UiMessageSink(Presenter presenter = {});

    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text, MessageIcon icon) override;

    static bool ShowMessageBox(const QString& text, MessageIcon icon, bool question);

private:
    bool Present(const std::string& text, MessageIcon icon, bool question);

    Presenter presenter_;
};

} // namespace oriel
