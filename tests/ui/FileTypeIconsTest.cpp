// The file-type icon cache: priming order, one icon per MIME type, the
// bundled set and the desktop theme.
#include "ui/FileTypeIcons.h"

#include "UiTestSupport.h"

using namespace oriel;

class FileTypeIconsTest : public QObject {
    Q_OBJECT
private slots:
    void PrimedTypesGetTheIconOfTheirUsualExtension_data();
    void PrimedTypesGetTheIconOfTheirUsualExtension();
    void TheFirstItemOfATypeDecidesTheIconOfLaterOnes();
    void AnUnknownTypeWithoutExtensionGetsTheIconOfAFileWithoutExtension();
    void NoTypeStoresNothing();
    void BundledIconsDrawAtListSizes();
    void ThemeIconsAreUsedWhereATheme();
};

void FileTypeIconsTest::PrimedTypesGetTheIconOfTheirUsualExtension_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("key");
    QTest::newRow("unknown") << "unknown/unknown" << "bundled:file";
    QTest::newRow("html") << "text/html" << "bundled:html";
    QTest::newRow("text") << "text/plain" << "bundled:text";
    QTest::newRow("gif") << "image/gif" << "bundled:image";
    QTest::newRow("jpeg") << "image/jpeg" << "bundled:image";
    QTest::newRow("png") << "image/png" << "bundled:image";
    QTest::newRow("flash") << "application/x-shockwave-flash" << "bundled:flash";
    QTest::newRow("javascript") << "application/x-javascript" << "bundled:script";
    QTest::newRow("zip") << "application/zip" << "bundled:archive";
    QTest::newRow("css") << "text/css" << "bundled:style";
}

void FileTypeIconsTest::PrimedTypesGetTheIconOfTheirUsualExtension()
{
    QFETCH(QString, type);
    QFETCH(QString, key);
    CFileTypeIcons icons(false);
    const int32_t index = icons.StoredIndex(type.toStdString());
    QVERIFY(index >= 0);
    QCOMPARE(icons.IconKey(index), key);
    // Index 0 is the icon of a file without extension, primed first.
    QCOMPARE(icons.IconKey(0), QString("bundled:file"));
}

void FileTypeIconsTest::TheFirstItemOfATypeDecidesTheIconOfLaterOnes()
{
    CFileTypeIcons icons(false);
    const int32_t html = icons.StoredIndex("text/html");
    // a.htm and b.php, both text/html: the primed ".htm" icon for both.
    QCOMPARE(icons.GetIcon(".htm", "text/html"), html);
    QCOMPARE(icons.GetIcon(".php", "text/html"), html);
    // A new type takes the icon of the first item's extension, for good.
    const int32_t first = icons.GetIcon(".gif", "application/x-made-up");
    QCOMPARE(icons.IconKey(first), QString("bundled:image"));
    QCOMPARE(icons.GetIcon(".txt", "application/x-made-up"), first);
}

void FileTypeIconsTest::AnUnknownTypeWithoutExtensionGetsTheIconOfAFileWithoutExtension()
{
    CFileTypeIcons icons(false);
    QCOMPARE(icons.StoredIndex("x-custom/thing"), -1);
    QCOMPARE(icons.GetIcon("", "x-custom/thing"), 0);
    QCOMPARE(icons.StoredIndex("x-custom/thing"), 0);
}

void FileTypeIconsTest::NoTypeStoresNothing()
{
    CFileTypeIcons icons(false);
    const int32_t count = icons.IconCount();
    QCOMPARE(icons.IconKey(icons.GetIcon(".css", nullptr)), QString("bundled:style"));
    QCOMPARE(icons.IconCount(), count);
    QCOMPARE(icons.StoredIndex(""), -1);
}

void FileTypeIconsTest::BundledIconsDrawAtListSizes()
{
    CFileTypeIcons icons(false);
    for (int32_t i = 0; i < icons.IconCount(); ++i) {
        for (int size : {16, 32}) {
            QImage image = icons.Icon(i).pixmap(size, size).toImage();
            QVERIFY2(!image.isNull(), qPrintable(icons.IconKey(i)));
            QCOMPARE(image.width(), size);
            // Something is drawn: not every pixel transparent.
            bool drawn = false;
            for (int y = 0; y < image.height() && !drawn; ++y) {
                for (int x = 0; x < image.width() && !drawn; ++x)
                    drawn = qAlpha(image.pixel(x, y)) > 0;
            }
            QVERIFY2(drawn, qPrintable(icons.IconKey(i)));
            QVERIFY(!icons.GhostIcon(i).pixmap(size, size).isNull());
        }
    }
}

void FileTypeIconsTest::ThemeIconsAreUsedWhereATheme()
{
    ChooseIconTheme();
    if (!QIcon::hasThemeIcon("text-html") && !QIcon::hasThemeIcon("text-x-generic"))
        QSKIP("no freedesktop icon theme with MIME type icons is installed");
    CFileTypeIcons icons(true);
    QVERIFY(icons.IconKey(icons.StoredIndex("text/html")).startsWith("theme:"));
    QVERIFY(!icons.Icon(icons.StoredIndex("text/html")).pixmap(16, 16).isNull());
}

ORIEL_UI_TEST_MAIN(FileTypeIconsTest)
#include "FileTypeIconsTest.moc"
