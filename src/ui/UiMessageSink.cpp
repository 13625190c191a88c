#include "ui/UiMessageSink.h"

#include "app/StringTable.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace oriel {

UiMessageSink::UiMessageSink(Presenter presenter)
    : presenter_(presenter ? std::move(presenter) : Presenter(&UiMessageSink::ShowMessageBox))
{
}

void UiMessageSink::ShowMessage(const std::string& text, MessageIcon icon)
{
    Present(text, icon, false);
}

bool UiMessageSink::AskYesNo(const std::string& text, MessageIcon icon)
{
    return Present(text, icon, true);
}

bool UiMessageSink::Present(const std::string& text, MessageIcon icon, bool question)
{
    const QString message = QString::fromStdString(text);
    if (QThread::currentThread() == thread())
        return presenter_(message, icon, question);
    // The window's thread shows the box; this thread waits for the answer.
    bool answer = false;
    QMetaObject::invokeMethod(
        this, [&] { answer = presenter_(message, icon, question); }, Qt::BlockingQueuedConnection);
    return answer;
}

bool UiMessageSink::ShowMessageBox(const QString& text, MessageIcon icon, bool question)
{
    QMessageBox::Icon boxIcon = QMessageBox::Warning;
    switch (icon) {
    case MessageIcon::Exclamation:
        boxIcon = QMessageBox::Warning;
        break;
    case MessageIcon::Information:
        boxIcon = QMessageBox::Information;
        break;
    case MessageIcon::Question:
        boxIcon = QMessageBox::Question;
        break;
    case MessageIcon::Stop:
        boxIcon = QMessageBox::Critical;
        break;
    }
    QMessageBox box(boxIcon, QString::fromUtf8(LoadString(IDS_APP_TITLE)), text,
                    question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, QApplication::activeWindow());
    const int result = box.exec();
    return question ? result == QMessageBox::Yes : true;
}

} // namespace oriel
