#include "support/TestEnvironment.h"

#include "app/OptionStore.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace oriel::test {

TempDir::TempDir()
{
    std::string templ = (fs::temp_directory_path() / "oriel-test-XXXXXX").string();
    if (!mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Restore write access first, in case a test made a folder read-only.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const
{
    return path_ + "/" + name;
}

TestEnvironment::TestEnvironment()
    : config_(dir_.file("Oriel.ini"))
{
    WriteFile(config_, "[Options]\nMessageDumpFile=\"\"\n");
    setenv("ORIEL_CONFIG", config_.c_str(), 1);
    OptionStore::SetInstanceFile(config_);
}

TestEnvironment::~TestEnvironment() = default;

EnvironmentFor::EnvironmentFor(const std::vector<std::pair<std::string, std::string>>& values)
{
    for (const auto& [name, value] : values) {
        const char* old = std::getenv(name.c_str());
        kept_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
}

EnvironmentFor::~EnvironmentFor()
{
    // Last set, first put back: a name given twice ends as it began.
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
        if (it->second)
            setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
}

pid_t EndedPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    fs::path p(path);
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int RunCommand(const std::string& command, std::string* out, std::string* err)
{
    TempDir dir;
    std::string outFile = dir.file("out"), errFile = dir.file("err");
    std::string full = command + " >" + outFile + " 2>" + errFile + " </dev/null";
    int status = std::system(full.c_str());
    if (out)
        *out = ReadWholeFile(outFile);
    if (err)
        *err = ReadWholeFile(errFile);
    if (status == -1)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        out.push_back(field);
    return out;
}

} // namespace oriel::test
