// The applications the local desktop associates with a MIME type, read from
// the freedesktop MIME-apps configuration of the user running Oriel (not of
// the examined system): the desktop entries ("*.desktop") under the
// "applications" folder of every XDG data directory, and the mimeapps.list
// files of the XDG config and data directories.
//
// Folders, first wins: $XDG_DATA_HOME (default ~/.local/share), then each
// of $XDG_DATA_DIRS (default /usr/local/share:/usr/share); mimeapps.list in
// $XDG_CONFIG_HOME (default ~/.config), each of $XDG_CONFIG_DIRS (default
// /etc/xdg), then applications/mimeapps.list of each data directory.
#pragma once

#include <string>
#include <vector>

namespace oriel::platform {

struct DesktopApp {
    std::string id;          // desktop file id: "org.gnome.eog.desktop", "kde-okular.desktop"
    std::string name;        // the entry's Name
    std::string exec;        // the entry's Exec line, unexpanded
    std::string icon;        // the entry's Icon (a theme name or a path); may be empty
    std::string desktopFile; // the entry's file
    bool isDefault = false;  // named under [Default Applications] for the type
};

// The applications for `mimeType` (parameters such as "; charset=" are
// ignored): the defaults first, then the added associations, then every
// other entry that lists the type, each once; then, the same way, the
// applications of the types it is a kind of (text/html is a text/plain).
// Removed associations, hidden entries and entries that are not
// applications are left out.
std::vector<DesktopApp> AppsForMimeType(const std::string& mimeType);

// One desktop entry read from `file` with id `id`; an entry with an empty
// id when the file is no launchable application.
DesktopApp ReadDesktopEntry(const std::string& file, const std::string& id);

// The program and arguments that launch `app` on the one file `path`: the
// Exec line split as the desktop entry format quotes it, %f %F %u %U
// replaced by the path (one argument, blanks and all), %i by "--icon" and
// the icon, %c by the name, %k by the desktop file, %% by "%"; other field
// codes dropped. The path is appended when the line names no file. Empty
// when the line is empty or its quoting does not close.
std::vector<std::string> LaunchCommand(const DesktopApp& app, const std::string& path);

// The XDG folders in lookup order, as the environment says now.
std::vector<std::string> XdgDataDirs();
std::vector<std::string> XdgConfigDirs();

} // namespace oriel::platform
