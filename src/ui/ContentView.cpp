#include "ui/ContentView.h"

#include "app/StringTable.h"
#include "platform/FileSystem.h"
#include "ui/WindowLog.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QStringDecoder>

#include <cstring>

namespace oriel {

namespace {

// Bodies are bytes: UTF-8 when they are valid UTF-8, otherwise the Western
// code page that most cached pages of the period were written in.
QString TextOfBytes(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

void SetupTextBox(QPlainTextEdit* box)
{
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setTabChangesFocus(true);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

} // namespace

// ---------------------------------------------------------------------------

CMetaDataView::CMetaDataView(CCacheDocument& document, QWidget* parent)
    : QPlainTextEdit(parent)
    , document_(document)
{
    SetupTextBox(this);
    document_.AddView(this);
}

CMetaDataView::~CMetaDataView()
{
    document_.RemoveView(this);
}

void CMetaDataView::OnInitialUpdate()
{
    Trace("Entry - CMetaDataView::OnInitialUpdate()");
    setReadOnly(true);
    Trace("Exit - CMetaDataView::OnInitialUpdate()");
}

void CMetaDataView::OnUpdate(CView*, int32_t hint, CUpdateHint* hintObject)
{
    Trace("Entry - CMetaDataView::OnUpdate()");
    if (hint == CACHE_NOCHANGE) {
        Trace("      - lHint = ViewHintEnum::CACHE_NOCHANGE");
        if (hintObject && hintObject->kind == CUpdateHint::kItem) {
            const char* headers = hintObject->item ? hintObject->item->GetHeaders() : nullptr;
            QString text = headers ? TextOfBytes(QByteArray(headers)) : QString();
            // The fields only this item's format has (a cache2 key's tags, a
            // deleted entry) follow the stored headers.
            if (hintObject->item) {
                for (const auto& [label, value] : hintObject->item->GetProperties()) {
                    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
                        text += QLatin1Char('\n');
                    text += TextOfBytes(QByteArray::fromStdString(label)) + QStringLiteral(": ") +
                            TextOfBytes(QByteArray::fromStdString(value));
                }
            }
            setPlainText(text);
        }
    } else {
        Trace("      - lHint = ViewHintEnum::Empty");
        setPlainText(QString());
    }
    Trace("Exit - CMetaDataView::OnUpdate()");
}

// ---------------------------------------------------------------------------

CImageCanvas::CImageCanvas(QWidget* parent)
    : QWidget(parent)
{
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(1, 1);
}

void CImageCanvas::SetImage(QImage image)
{
    image_ = std::move(image);
    // The scroll extent: the image's size, or 1 by 1 without one.
    resize(image_.isNull() ? QSize(1, 1) : image_.size());
    update();
}

void CImageCanvas::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().brush(QPalette::Base));
    // Source-over blending: per-pixel alpha over the pane's background.
    if (!image_.isNull())
        painter.drawImage(QPoint(0, 0), image_);
}

// ---------------------------------------------------------------------------

CContentView::CContentView(CCacheDocument& document, QWidget* parent)
    : QWidget(parent)
    , document_(document)
    , scroll_(new QScrollArea(this))
    , canvas_(new CImageCanvas)
    , textBox_(new QPlainTextEdit(this))
{
    scroll_->setWidget(canvas_);
    scroll_->setWidgetResizable(false);
    scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_->setBackgroundRole(QPalette::Base);
    SetupTextBox(textBox_);
    textBox_->hide();
    document_.AddView(this);
}

CContentView::~CContentView()
{
    document_.RemoveView(this);
}

void CContentView::OnInitialUpdate()
{
    canvas_->SetImage(QImage());
    textBox_->setGeometry(rect());
    textBox_->hide();
}

void CContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    scroll_->setGeometry(rect());
    textBox_->setGeometry(rect());
}

QString CContentView::TextOfFile(const std::string& path)
{
    // Read as every examined file is: never through a link that leads out
    // of the examined tree.
    auto attributes = platform::GetFileAttributes(path);
    // Refused before any read: anything above 65535 bytes.
    if (attributes && attributes->size > uint64_t(kMaxTextBytes))
        return QString::fromUtf8(LoadString(IDS_FILE_TOO_LARGE));
    auto read = platform::ReadFile(path, uint64_t(kMaxTextBytes));
    if (!read)
        return {};
    QByteArray bytes = QByteArray::fromStdString(*read);
    int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return TextOfBytes(bytes);
}

QImage CContentView::LoadImage(const std::string& path)
{
    auto read = platform::ReadFile(path, kMaxImageBytes);
    if (!read)
        return {};
    QByteArray bytes = QByteArray::fromStdString(*read);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    // Indexed images keep their colour table; others are drawn as read.
    return image;
}

void CContentView::ShowItem(CCacheItem* item)
{
    textBox_->setPlainText(QString());
    canvas_->SetImage(QImage());
    if (!item) {
        update();
        return;
    }
    const char* type = item->GetContentType();
    if (type && std::strncmp(type, "image", 5) == 0) {
        if (item->PrepareFile() && item->GetFilePath()) {
            QImage image = LoadImage(item->GetFilePath());
            if (!image.isNull()) {
                canvas_->SetImage(std::move(image));
                textBox_->hide();
            }
        }
    } else if (type && std::strncmp(type, "text", 4) == 0 && item->PrepareFile()) {
        const char* path = item->GetFilePath();
        // The text box gets the text as it is, line ends included.
        textBox_->setPlainText(path ? TextOfFile(path) : QString());
        textBox_->setGeometry(rect());
        textBox_->show();
        textBox_->raise();
    }
    update();
}

void CContentView::OnUpdate(CView*, int32_t hint, CUpdateHint* hintObject)
{
    Trace("Entry - CContentView::OnUpdate()");
    if (hint == CACHE_NOCHANGE) {
        Trace("      - lHint = ViewHintEnum::CACHE_NOCHANGE");
        if (hintObject && hintObject->kind == CUpdateHint::kItem)
            ShowItem(hintObject->item);
    } else {
        Trace("      - lHint = ViewHintEnum::Empty");
        // The picture goes; the text box keeps its text until the next item.
        canvas_->SetImage(QImage());
        update();
    }
    Trace("Exit - CContentView::OnUpdate()");
}

} // namespace oriel
