#include "ui/dialogs/PropertiesDialog.h"

#include "app/StringTable.h"
#include "model/CacheItem.h"
#include "model/TextForms.h"

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include <sys/stat.h>

namespace oriel {

namespace {

QString Text(int id)
{
    return QString::fromUtf8(LoadString(id));
}

QString Q(const char* s)
{
    return QString::fromUtf8(s ? s : "");
}

QString Q(const std::string& s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QString OrNone(const QString& text)
{
    return text.isEmpty() ? Text(IDS_PROP_NONE) : text;
}

// A time in UTC as "2007-01-01 00:00:00"; a format that keeps the date
// only as text shows that text.
QString UtcText(int64_t time, const std::string& storedText)
{
    if (time != 0 && time != -1)
        return QDateTime::fromSecsSinceEpoch(time, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return OrNone(Q(storedText));
}

QString EncodingName(int32_t encoding)
{
    switch (encoding) {
    case CCacheItem::kEncodingGzip: return QStringLiteral("gzip");
    case CCacheItem::kEncodingCompress: return QStringLiteral("compress");
    case CCacheItem::kEncodingDeflate: return QStringLiteral("deflate");
    case CCacheItem::kEncodingBrotli: return QStringLiteral("br");
    default: return {};
    }
}

struct Hashes {
    QString sha256;
    QString md5;
};

// Both digests in one pass over the file; empty when it cannot be read.
Hashes HashFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash sha(QCryptographicHash::Sha256);
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunk.size());
        if (got < 0)
            return {};
        if (got == 0)
            break;
        sha.addData(QByteArrayView(chunk.constData(), got));
        md5.addData(QByteArrayView(chunk.constData(), got));
    }
    return {QString::fromLatin1(sha.result().toHex()), QString::fromLatin1(md5.result().toHex())};
}

QString Bytes(int64_t size)
{
    return Q(FormatSize(size)) + Text(IDS_PROP_BYTES);
}

// Blocks the file system gave the file; its length when it cannot say.
QString SizeOnDisk(const std::string& path)
{
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return Text(IDS_PROP_NONE);
    return Bytes(int64_t(info.st_blocks) * 512);
}

// True when the file shown is the body decoded by its content encoding.
bool ShowsDecodedBody(CCacheItem& item)
{
    if (item.GetContentEncoding() == CCacheItem::kEncodingNone)
        return false;
    if (auto* file = dynamic_cast<CFileCacheItem*>(&item)) {
        const char* shown = file->GetFilePath();
        return shown && file->GetBodyPath() && *file->GetBodyPath() != shown;
    }
    return true;
}

} // namespace

QString ItemProperties::Text() const
{
    QString text;
    for (const auto& [label, value] : fields)
        text += label + QStringLiteral(": ") + value + u'\n';
    text += oriel::Text(IDS_PROP_HEADERS) + QStringLiteral(":\n");
    text += headers.isEmpty() ? oriel::Text(IDS_PROP_NONE) + u'\n' : headers;
    return text;
}

ItemProperties GatherProperties(CCacheItem& item)
{
    ItemProperties p;
    // The file a program is given (decoded, extracted or a copy with a
    // usable extension), and the body it was made from when that is a
    // file of its own in the cache.
    const std::string path = item.GetFilePath() ? item.GetFilePath() : "";
    std::string body = path;
    if (auto* file = dynamic_cast<CFileCacheItem*>(&item); file && file->GetBodyPath())
        body = *file->GetBodyPath();
    p.fields.emplace_back(Text(IDS_PROP_URL), OrNone(Q(item.GetURL())));
    p.fields.emplace_back(Text(IDS_PROP_CACHE_NAME), OrNone(Q(item.GetDisplayCacheName())));
    p.fields.emplace_back(Text(IDS_PROP_FILE_PATH), OrNone(Q(body)));
    if (body != path)
        p.fields.emplace_back(Text(IDS_PROP_WORKING_COPY), OrNone(Q(path)));
    p.fields.emplace_back(Text(IDS_PROP_SIZE), Bytes(item.GetSize()));
    p.fields.emplace_back(Text(IDS_PROP_SIZE_ON_DISK), SizeOnDisk(body));
    p.fields.emplace_back(Text(IDS_PROP_MODIFIED), UtcText(item.GetLastModified(), item.GetLastModifiedText()));
    p.fields.emplace_back(Text(IDS_PROP_DOWNLOADED), UtcText(item.GetDownloaded(), {}));
    p.fields.emplace_back(Text(IDS_PROP_EXPIRES), UtcText(item.GetExpires(), {}));
    p.fields.emplace_back(Text(IDS_PROP_TYPE), OrNone(Q(item.GetContentType())));
    QString encoding = EncodingName(item.GetContentEncoding());
    if (!encoding.isEmpty() && ShowsDecodedBody(item))
        encoding += Text(IDS_PROP_DECODED);
    if (!encoding.isEmpty() && item.IsBodyCut())
        encoding += Text(IDS_PROP_CUT);
    p.fields.emplace_back(Text(IDS_PROP_ENCODING), OrNone(encoding));
    const Hashes hashes = path.empty() ? Hashes{} : HashFile(Q(path));
    const QString unreadable = Text(IDS_PROP_UNREADABLE);
    p.fields.emplace_back(Text(IDS_PROP_SHA256), hashes.sha256.isEmpty() ? unreadable : hashes.sha256);
    p.fields.emplace_back(Text(IDS_PROP_MD5), hashes.md5.isEmpty() ? unreadable : hashes.md5);
    for (const auto& [label, value] : item.GetFormatProperties())
        p.fields.emplace_back(Q(label), OrNone(Q(value)));
    // Stored with CR LF; shown and copied one header a line.
    QString headers = Q(item.GetHeaders());
    headers.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    headers.remove(u'\r');
    while (headers.endsWith(QStringLiteral("\n\n")))
        headers.chop(1);
    if (!headers.isEmpty() && !headers.endsWith(u'\n'))
        headers += u'\n';
    p.headers = headers;
    return p;
}

CPropertiesDlg::CPropertiesDlg(CCacheItem& item, QWidget* parent)
    : QDialog(parent)
    , properties_(GatherProperties(item))
{
    setWindowTitle(Text(IDS_PROPERTIES_TITLE));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    for (const auto& [label, value] : properties_.fields) {
        // Read-only lines: long URLs and paths scroll, and every value can
        // be selected and copied on its own.
        auto* field = new QLineEdit(value, this);
        field->setReadOnly(true);
        field->setCursorPosition(0);
        if (label == Text(IDS_PROP_SHA256) || label == Text(IDS_PROP_MD5)) {
            // A digest shows whole.
            field->setFont(fixed);
            field->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(value) + 16);
        }
        form->addRow(label + u':', field);
    }
    layout->addLayout(form);
    layout->addWidget(new QLabel(Text(IDS_PROP_HEADERS) + u':', this));
    auto* headers = new QPlainTextEdit(properties_.headers.isEmpty() ? Text(IDS_PROP_NONE) : properties_.headers, this);
    headers->setReadOnly(true);
    headers->setLineWrapMode(QPlainTextEdit::NoWrap);
    headers->setFont(fixed);
    headers->setMinimumHeight(120);
    layout->addWidget(headers, 1);

    auto* buttons = new QDialogButtonBox(this);
    copy_ = buttons->addButton(Text(IDS_PROP_COPY), QDialogButtonBox::ActionRole);
    buttons->addButton(Text(IDS_PROP_CLOSE), QDialogButtonBox::RejectRole);
    connect(copy_, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(properties_.Text()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(std::max(640, sizeHint().width()), 540);
}

} // namespace oriel
