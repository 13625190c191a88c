// Pictures of the dialogs for review: saved under $ORIEL_SHOT_DIR when it
// is set (scripts and reviewers set it; the test suite runs without it).
#pragma once

#include <QApplication>
#include <QDir>
#include <QWidget>

namespace oriel::test {

inline void SaveShot(QWidget& widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("ORIEL_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    widget.adjustSize();
    widget.show();
    QApplication::processEvents();
    widget.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"), "PNG");
}

} // namespace oriel::test
