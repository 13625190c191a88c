#include "ui/dialogs/AboutDialog.h"

#include "app/StringTable.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include <zlib.h>

#ifndef ORIEL_HIVEX_VERSION
#error "ORIEL_HIVEX_VERSION is defined by the build from pkg-config"
#endif

namespace oriel {

QStringList CAboutDlg::LibraryVersions()
{
    return {QStringLiteral("Qt %1").arg(QLatin1String(qVersion())),
            QStringLiteral("zlib %1").arg(QLatin1String(zlibVersion())),
            QStringLiteral("libhivex %1").arg(QLatin1String(ORIEL_HIVEX_VERSION))};
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("About Oriel"));
    setObjectName(QStringLiteral("AboutDialog"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/oriel/icons/oriel.svg")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    auto* product = new QLabel(QStringLiteral("<b>%1</b>").arg(QString::fromUtf8(LoadString(IDS_APP_TITLE))), this);
    product->setObjectName(QStringLiteral("product"));
    auto* what = new QLabel(tr("Shows and recovers the contents of web browser disk caches."), this);
    auto* versionLabel = new QLabel(tr("Version:"), this);
    auto* version = new QLabel(QString::fromUtf8(LoadString(IDS_VERSION)), this);
    version->setObjectName(QStringLiteral("version"));
    auto* libraries = new QLabel(LibraryVersions().join(u'\n'), this);
    libraries->setObjectName(QStringLiteral("libraries"));
    libraries->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* text = new QGridLayout;
    text->addWidget(product, 0, 0, 1, 2);
    text->addWidget(what, 1, 0, 1, 2);
    text->addWidget(versionLabel, 2, 0);
    text->addWidget(version, 2, 1);
    text->addWidget(new QLabel(tr("Running with:"), this), 3, 0, Qt::AlignTop);
    text->addWidget(libraries, 3, 1);
    text->setColumnStretch(1, 1);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(8);
    row->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

} // namespace oriel
