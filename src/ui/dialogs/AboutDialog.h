// "About Oriel": the product name, "Version:" 2.8.03, and the versions of
// Qt, zlib and libhivex the program runs with.
#pragma once

#include <QDialog>

namespace oriel {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // The libraries' lines ("Qt 6.4.2", "zlib 1.2.13", "libhivex 1.3.23").
    static QStringList LibraryVersions();
};

} // namespace oriel
