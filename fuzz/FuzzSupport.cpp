#include "FuzzSupport.h"

#include "app/Messages.h"
#include "app/OptionStore.h"
#include "app/TraceLog.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

class SilentSink : public oriel::MessageSink {
public:
    void ShowMessage(const std::string&, oriel::MessageIcon) override {}
    bool AskYesNo(const std::string&, oriel::MessageIcon) override { return false; }
};

} // namespace

void SetUpFuzzEnvironment()
{
    namespace fs = std::filesystem;
    std::string dir = (fs::temp_directory_path() / ("oriel-fuzz-" + std::to_string(::getpid()))).string();
    fs::create_directories(dir);
    std::string config = dir + "/Oriel.ini";
    std::ofstream(config) << "[Options]\nMessageDumpFile=\"\"\n";
    setenv("ORIEL_CONFIG", config.c_str(), 1);
    oriel::OptionStore::SetInstanceFile(config);
    oriel::CTraceLog::Destroy();
    oriel::SetMessageSink(std::make_shared<SilentSink>());
}

void WriteSeed(const std::string& dir, const std::string& name, const std::string& bytes)
{
    std::filesystem::create_directories(dir);
    std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}
