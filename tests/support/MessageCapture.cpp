#include "support/MessageCapture.h"

#include "support/TestContext.h"

namespace oriel::test {

void RecordingSink::ShowMessage(const std::string& text, MessageIcon icon)
{
    std::lock_guard lock(mutex_);
    messages.push_back(text);
    icons.push_back(icon);
}

bool RecordingSink::AskYesNo(const std::string& text, MessageIcon icon)
{
    std::lock_guard lock(mutex_);
    questions.push_back(text);
    questionIcons.push_back(icon);
    return answer;
}

MessageCapture::MessageCapture()
    : sink_(std::make_shared<RecordingSink>())
{
    Context().SetMessages(sink_.get());
}

MessageCapture::~MessageCapture()
{
    Context().SetMessages(nullptr);
}

} // namespace oriel::test
