#include "app/Messages.h"

#include <cstdio>

namespace oriel {

namespace {

// Multi-line texts are printed on one line so that scripts can grep them.
std::string OneLine(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (c == '\n') ? ' ' : c;
    return out;
}

} // namespace

void StderrMessageSink::ShowMessage(const std::string& text, MessageIcon icon)
{
    const char* prefix = icon == MessageIcon::Information ? "note" : "warning";
    std::fprintf(stderr, "%s: %s\n", prefix, OneLine(text).c_str());
}

bool StderrMessageSink::AskYesNo(const std::string& text, MessageIcon)
{
    std::fprintf(stderr, "warning: %s (answered no)\n", OneLine(text).c_str());
    return false;
}

} // namespace oriel
