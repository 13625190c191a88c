// The messages and questions a test provokes, kept for it to check.
#pragma once

#include "app/Messages.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace oriel::test {

// A message sink that keeps every message and question, in order, and
// answers questions with `answer`. Safe to call from a decode thread; read
// the lists once the code under test has ended.
class RecordingSink : public MessageSink {
public:
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text, MessageIcon icon) override;

    std::vector<std::string> messages;
    std::vector<MessageIcon> icons; // one a message
    std::vector<std::string> questions;
    std::vector<MessageIcon> questionIcons; // one a question
    bool answer = false;

private:
    std::mutex mutex_;
};

// Makes a fresh RecordingSink the message sink of the tests' context while
// it lives; afterwards messages go to stderr again.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    RecordingSink* operator->() const { return sink_.get(); }
    RecordingSink& operator*() const { return *sink_; }

private:
    std::shared_ptr<RecordingSink> sink_;
};

} // namespace oriel::test
