#include "ui/ItemLauncher.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cctype>

namespace oriel {

namespace {

ItemLauncher* g_launcher = nullptr;

} // namespace

int DesktopLauncher::OpenFile(const std::string& path)
{
    const QFileInfo info(QString::fromStdString(path));
    if (!info.exists())
        return 2;
    if (!info.isReadable())
        return 5;
    // xdg-open is asked; false means no handler could be started.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())) ? 42 : 31;
}

void DesktopLauncher::OpenUrl(const std::string& url)
{
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
}

void DesktopLauncher::StartProgram(const std::vector<std::string>& command)
{
    if (command.empty() || command.front().empty())
        return;
    QStringList arguments;
    for (size_t i = 1; i < command.size(); ++i)
        arguments << QString::fromStdString(command[i]);
    QProcess::startDetached(QString::fromStdString(command.front()), arguments);
}

ItemLauncher& CurrentItemLauncher()
{
    static DesktopLauncher desktop;
    return g_launcher ? *g_launcher : desktop;
}

ScopedItemLauncher::ScopedItemLauncher(ItemLauncher& launcher)
    : previous_(g_launcher)
{
    g_launcher = &launcher;
}

ScopedItemLauncher::~ScopedItemLauncher()
{
    g_launcher = previous_;
}

bool IsOpenableUrl(const std::string& url)
{
    const size_t colon = url.find(':');
    if (colon == std::string::npos)
        return false;
    std::string scheme = url.substr(0, colon);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return scheme == "http" || scheme == "https" || scheme == "ftp";
}

} // namespace oriel
