#include "model/MimeTypes.h"

#include "platform/RegistryReader.h"

#include <QMimeDatabase>

namespace oriel {

int ExtensionForType(const platform::RegistryReader& registry, std::string_view contentType, std::string& out)
{
    if (contentType.empty())
        return -1;
    // Read into a text of our own: an empty value must not clear `out`.
    std::string registered;
    std::string key = "MIME\\Database\\Content Type\\" + std::string(contentType);
    int result = registry.QueryString(platform::RootKey::ClassesRoot, key, "Extension", registered);
    if (result >= 0 && !registered.empty()) {
        out = registered;
        return result;
    }

    // The host's database knows types by their lower-case names and aliases
    // ("application/x-javascript"); blanks around the type are not part of it.
    QString name = QString::fromUtf8(contentType.data(), qsizetype(contentType.size())).trimmed().toLower();
    static thread_local QMimeDatabase db;
    QMimeType type = db.mimeTypeForName(name);
    if (!type.isValid() || type.isDefault())
        return -1;
    QString suffix = type.preferredSuffix();
    if (suffix.isEmpty())
        return -1;
    out = "." + suffix.toStdString();
    return int(out.size() + 1);
}

std::string SafeExtension(std::string_view ext)
{
    if (ext.size() < 2 || ext.size() > 16 || ext.front() != '.')
        return {};
    for (char c : ext.substr(1)) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '-' || c == '+';
        if (!plain)
            return {};
    }
    return std::string(ext);
}

} // namespace oriel
