// Pictures of the dialogs for review: saved under $ORIEL_SHOT_DIR when it
// is set (scripts and reviewers set it; the test suite runs without it).
#pragma once

#include <QApplication>
#include <QDir>
#include <QWidget>

namespace oriel::test {

// `fit`: the widget takes its preferred size first (a dialog); a window
// keeps the size it was given.
inline void SaveShot(QWidget& widget, const QString& name, bool fit = true)
{
    const QString dir = qEnvironmentVariable("ORIEL_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    if (fit)
        widget.adjustSize();
    widget.show();
    QApplication::processEvents();
    widget.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG");
}

} // namespace oriel::test
