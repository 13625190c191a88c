#include "platform/RegistryReader.h"


namespace oriel::platform {

std::vector<std::string_view> SplitKeyPath(std::string_view path)
{
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t next = path.find('\\', pos);
        if (next == std::string_view::npos)
            next = path.size();
        if (next > pos)
            parts.push_back(path.substr(pos, next - pos));
        pos = next + 1;
    }
    return parts;
}

} // namespace oriel::platform
