#include "model/MimeTypes.h"

#include "platform/RegistryReader.h"

#include <QMimeDatabase>

namespace oriel {

int ExtensionForType(std::string_view contentType, std::string& out)
{
    if (contentType.empty())
        return -1;
    std::string key = "MIME\\Database\\Content Type\\" + std::string(contentType);
    int result = platform::Registry()->QueryString(platform::RootKey::ClassesRoot, key, "Extension", out);
    if (result >= 0 && !out.empty())
        return result;

    static thread_local QMimeDatabase db;
    QMimeType type = db.mimeTypeForName(QString::fromUtf8(contentType.data(), qsizetype(contentType.size())));
    if (!type.isValid() || type.isDefault())
        return -1;
    QString suffix = type.preferredSuffix();
    if (suffix.isEmpty())
        return -1;
    out = "." + suffix.toStdString();
    return int(out.size() + 1);
}

} // namespace oriel
