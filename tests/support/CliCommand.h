// Command lines for the tools the tests run. The tools' paths are compile
// definitions of each test executable, so this stays a header.
#pragma once

#include <string>

namespace oriel::test {

#ifdef ORIEL_CLI_PATH
// oriel-cli with `args`.
inline std::string Cli(const std::string& args)
{
    return std::string(ORIEL_CLI_PATH) + " " + args;
}
#endif

#ifdef ORIEL_SYNTH_PATH
// oriel-synth with `args`.
inline std::string Synth(const std::string& args)
{
    return std::string(ORIEL_SYNTH_PATH) + " " + args;
}
#endif

// `s` in single quotes for the shell (the tests' paths hold no quote).
inline std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

} // namespace oriel::test
