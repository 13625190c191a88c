#include "ui/dialogs/FolderPicker.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace oriel {

namespace {

FolderPicker& PickerHook()
{
    static FolderPicker hook;
    return hook;
}

} // namespace

QString PickFolder(QWidget* parent, const QString& title, const QString& current)
{
    if (PickerHook())
        return PickerHook()(parent, title, current);
    // From the computer's top: the file system's root, with the home folder
    // and the usual mount points in the side bar.
    QFileDialog dialog(parent, title, current.isEmpty() || !QFileInfo(current).isDir() ? QDir::rootPath() : current);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    QList<QUrl> places{QUrl::fromLocalFile(QDir::rootPath()), QUrl::fromLocalFile(QDir::homePath())};
    for (const QString& media : {QStringLiteral("/media"), QStringLiteral("/mnt")}) {
        if (QFileInfo(media).isDir())
            places << QUrl::fromLocalFile(media);
    }
    dialog.setSidebarUrls(places);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

void SetFolderPicker(FolderPicker picker)
{
    PickerHook() = std::move(picker);
}

} // namespace oriel
