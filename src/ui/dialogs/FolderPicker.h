// The folder pickers of the window's dialogs: a file dialog rooted at the
// file system's root with the mounted volumes at hand, behind one hook so
// that tests can answer it.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace oriel {

// Title and current folder in, the choice out (empty: cancelled).
using FolderPicker = std::function<QString(QWidget* parent, const QString& title, const QString& current)>;
QString PickFolder(QWidget* parent, const QString& title, const QString& current);
// Replaces the file dialog (empty: the file dialog again).
void SetFolderPicker(FolderPicker picker);

} // namespace oriel
