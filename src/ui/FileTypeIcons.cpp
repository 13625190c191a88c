#include "ui/FileTypeIcons.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>

static void InitOrielQrc()
{
    Q_INIT_RESOURCE(oriel);
}

namespace oriel {

namespace {

// The bundled picture for a MIME type, by family.
QString BundledName(const QMimeType& type)
{
    const QString name = type.name();
    auto inherits = [&](const char* parent) { return type.inherits(QString::fromLatin1(parent)); };
    if (name == u"text/html" || inherits("application/xhtml+xml"))
        return QStringLiteral("html");
    if (name == u"text/css")
        return QStringLiteral("style");
    if (name.contains(u"javascript") || name.contains(u"ecmascript"))
        return QStringLiteral("script");
    if (name.startsWith(u"image/"))
        return QStringLiteral("image");
    if (name == u"application/x-shockwave-flash" || name == u"application/vnd.adobe.flash.movie")
        return QStringLiteral("flash");
    if (name == u"application/zip" || name == u"application/gzip" || name == u"application/x-tar" ||
        name.contains(u"compressed") || name.contains(u"archive"))
        return QStringLiteral("archive");
    if (name.startsWith(u"text/") || inherits("text/plain"))
        return QStringLiteral("text");
    return QStringLiteral("file");
}

} // namespace

void InitUiResources()
{
    static const bool done = [] {
        InitOrielQrc();
        return true;
    }();
    (void)done;
}

void ChooseIconTheme()
{
    // Platforms without a desktop theme (offscreen, minimal) search only
    // the resources; the freedesktop folders are where themes live.
    QStringList paths = QIcon::themeSearchPaths();
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    folders.prepend(QDir::homePath() + QStringLiteral("/.local/share"));
    for (const QString& base : folders) {
        const QString icons = base + QStringLiteral("/icons");
        if (!paths.contains(icons) && QFileInfo(icons).isDir())
            paths.append(icons);
    }
    QIcon::setThemeSearchPaths(paths);

    const QString current = QIcon::themeName();
    if (!current.isEmpty() && current != u"hicolor")
        return;
    for (const char* theme : {"Adwaita", "breeze", "gnome", "oxygen", "Tango"}) {
        for (const QString& base : paths) {
            if (QFileInfo::exists(base + QStringLiteral("/") + QLatin1String(theme) + QStringLiteral("/index.theme"))) {
                QIcon::setThemeName(QLatin1String(theme));
                return;
            }
        }
    }
}

CFileTypeIcons::CFileTypeIcons(bool useTheme)
    : useTheme_(useTheme)
{
    InitUiResources();
    // Common types get the icon of their usual extension; the first entry
    // makes index 0 the icon of a file without extension.
    static const struct {
        const char* extension;
        const char* type;
    } kPrimed[] = {
        {"", "unknown/unknown"},
        {".htm", "text/html"},
        {".txt", "text/plain"},
        {".gif", "image/gif"},
        {".jpg", "image/jpeg"},
        {".png", "image/png"},
        {".swf", "application/x-shockwave-flash"},
        {".js", "application/x-javascript"},
        {".zip", "application/zip"},
        {".css", "text/css"},
    };
    for (const auto& p : kPrimed)
        GetIcon(p.extension, p.type);
}

int32_t CFileTypeIcons::GetIcon(const std::string& extension, const char* contentType)
{
    if (contentType) {
        auto found = typeMap_.find(contentType);
        if (found != typeMap_.end())
            return found->second;
    }
    int32_t index = IconForFileName(QStringLiteral("orieltmp") + QString::fromUtf8(extension.c_str()));
    if (contentType)
        typeMap_.emplace(contentType, index);
    return index;
}

int32_t CFileTypeIcons::IconForFileName(const QString& fileName)
{
    // What the desktop shows for a file of this name: its type by extension
    // alone (the file need not exist), then the theme's icon for that type.
    static QMimeDatabase db;
    QMimeType type = db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    if (useTheme_) {
        for (const QString& name : {type.iconName(), type.genericIconName()}) {
            if (!name.isEmpty() && QIcon::hasThemeIcon(name))
                return AddIcon(QStringLiteral("theme:") + name, QIcon::fromTheme(name));
        }
    }
    const QString bundled = BundledName(type);
    return AddIcon(QStringLiteral("bundled:") + bundled, QIcon(QStringLiteral(":/oriel/icons/%1.svg").arg(bundled)));
}

int32_t CFileTypeIcons::AddIcon(const QString& key, QIcon icon)
{
    const std::string k = key.toStdString();
    auto found = byKey_.find(k);
    if (found != byKey_.end())
        return found->second;
    int32_t index = int32_t(icons_.size());
    icons_.push_back(std::move(icon));
    keys_.push_back(key);
    byKey_.emplace(k, index);
    return index;
}

const QIcon& CFileTypeIcons::Icon(int32_t index) const
{
    static const QIcon none;
    if (icons_.empty())
        return none;
    if (index < 0 || index >= IconCount())
        index = 0;
    return icons_[size_t(index)];
}

const QIcon& CFileTypeIcons::GhostIcon(int32_t index) const
{
    if (index < 0 || index >= IconCount())
        index = 0;
    if (ghosts_.size() < icons_.size())
        ghosts_.resize(icons_.size());
    QIcon& ghost = ghosts_[size_t(index)];
    if (ghost.isNull() && !icons_.empty()) {
        // The cut state of a list row: the icon at half strength.
        for (int size : {16, 32}) {
            QPixmap source = icons_[size_t(index)].pixmap(size, size);
            QPixmap faded(source.size());
            faded.setDevicePixelRatio(source.devicePixelRatio());
            faded.fill(Qt::transparent);
            QPainter p(&faded);
            p.setOpacity(0.45);
            p.drawPixmap(0, 0, source);
            p.end();
            ghost.addPixmap(faded);
        }
    }
    return ghost;
}

const QString& CFileTypeIcons::IconKey(int32_t index) const
{
    static const QString none;
    if (index < 0 || index >= IconCount())
        return none;
    return keys_[size_t(index)];
}

int32_t CFileTypeIcons::StoredIndex(const std::string& contentType) const
{
    auto found = typeMap_.find(contentType);
    return found == typeMap_.end() ? -1 : found->second;
}

} // namespace oriel
