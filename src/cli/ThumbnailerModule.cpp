#include "cli/ThumbnailerModule.h"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>
#include <vector>

#ifndef ORIEL_INSTALL_LIBDIR
#error "ORIEL_INSTALL_LIBDIR is defined by the build: the library folder under the prefix"
#endif

namespace oriel::cli {

std::unique_ptr<Thumbnailer> LoadThumbnailer(std::string& problem)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        problem = "the folder of oriel-cli is not known: " + ec.message();
        return nullptr;
    }
    const fs::path here = self.parent_path();
    const std::vector<fs::path> candidates = {
        here / kThumbnailerModuleName,
        here.parent_path() / ORIEL_INSTALL_LIBDIR / "oriel" / kThumbnailerModuleName,
    };
    problem.clear();
    for (const fs::path& path : candidates) {
        if (!fs::is_regular_file(path, ec))
            continue;
        // Kept loaded to the end of the run: Qt's image plugins it loads
        // are not meant to go away before the application does.
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            const char* error = ::dlerror();
            problem = error ? error : path.string() + " does not load";
            continue;
        }
        using Factory = Thumbnailer* (*)();
        auto create = reinterpret_cast<Factory>(::dlsym(module, kThumbnailerFactoryName));
        if (!create) {
            problem = path.string() + " has no " + kThumbnailerFactoryName;
            continue;
        }
        return std::unique_ptr<Thumbnailer>(create());
    }
    if (problem.empty())
        problem = std::string(kThumbnailerModuleName) + " is in neither " + candidates[0].parent_path().string() +
                  " nor " + candidates[1].parent_path().lexically_normal().string();
    return nullptr;
}

} // namespace oriel::cli
