// How core code talks to the user: an error or notice with an icon, and a
// yes/no question. The window shows message boxes; oriel-cli prints to
// stderr and answers questions from its flags. Core code never touches a
// widget.
#pragma once

#include <memory>
#include <string>

namespace oriel {

enum class MessageIcon { Exclamation, Information, Question, Stop };

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows `text`; may be called from any thread.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    // Asks a yes/no question; true for yes. May be called from any thread.
    virtual bool AskYesNo(const std::string& text, MessageIcon icon) = 0;
};

// Prints messages to stderr as "warning: ..." and answers every question no.
class StderrMessageSink : public MessageSink {
public:
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text, MessageIcon icon) override;
};

} // namespace oriel
