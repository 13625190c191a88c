// Test scaffolding: temporary folders and a private option store.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace oriel::test {

// A folder under the temp folder, removed (with its contents) on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Points the process's option store at a fresh file in a temp folder whose
// "MessageDumpFile" is empty (no trace log), and sets ORIEL_CONFIG so that
// child processes (oriel-cli) use it too.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    const std::string& configFile() const { return config_; }

private:
    TempDir dir_;
    std::string config_;
};

// Environment variables set for as long as the object lives, then as they
// were (set to their old value, or unset).
class EnvironmentFor {
public:
    explicit EnvironmentFor(const std::vector<std::pair<std::string, std::string>>& values);
    ~EnvironmentFor();
    EnvironmentFor(const EnvironmentFor&) = delete;
    EnvironmentFor& operator=(const EnvironmentFor&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> kept_;
};

// The pid of a process that has ended (and was waited for).
pid_t EndedPid();

// Writes `bytes` to `path`, creating parent folders.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadWholeFile(const std::string& path);

// Runs a command through the shell; returns its exit status and fills the
// captured stdout (and stderr, when given).
int RunCommand(const std::string& command, std::string* out, std::string* err = nullptr);

// The lines of a command's output, without their line ends.
std::vector<std::string> Lines(const std::string& text);
// The tab-separated fields of one line.
std::vector<std::string> Fields(const std::string& line);

} // namespace oriel::test
