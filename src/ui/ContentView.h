// The two panes below the item list: the content pane shows the selected
// item's body (text, or a picture), the request-data pane its stored HTTP
// response headers. Both react only to update hints.
#pragma once

#include "ui/Document.h"

#include <QImage>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QWidget>

#include <cstdint>
#include <string>

namespace oriel {

class CMetaDataView : public QPlainTextEdit, public CView {
    Q_OBJECT
public:
    explicit CMetaDataView(CCacheDocument& document, QWidget* parent = nullptr);
    ~CMetaDataView() override;

    void OnInitialUpdate() override;
    void OnUpdate(CView* sender, int32_t hint, CUpdateHint* hintObject) override;

private:
    CCacheDocument& document_;
};

// Draws the held image at its own size, blended over the pane's background.
class CImageCanvas : public QWidget {
    Q_OBJECT
public:
    explicit CImageCanvas(QWidget* parent = nullptr);
    void SetImage(QImage image);
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

class CContentView : public QWidget, public CView {
    Q_OBJECT
public:
    // Text bodies of this many bytes or more are not shown.
    static constexpr int64_t kMaxTextBytes = 65535;
    // Pictures above this are not read (no web picture comes near it).
    static constexpr uint64_t kMaxImageBytes = uint64_t(256) << 20;

    explicit CContentView(CCacheDocument& document, QWidget* parent = nullptr);
    ~CContentView() override;

    void OnInitialUpdate() override;
    void OnUpdate(CView* sender, int32_t hint, CUpdateHint* hintObject) override;

    QPlainTextEdit* TextBox() const { return textBox_; }
    bool HasImage() const { return !canvas_->Image().isNull(); }
    const QImage& Image() const { return canvas_->Image(); }
    CImageCanvas* Canvas() const { return canvas_; }
    QScrollArea* ScrollArea() const { return scroll_; }

    // The text a file shows: up to 65535 bytes, ending at the first NUL;
    // the too-large message for 65536 bytes or more; empty when unreadable.
    static QString TextOfFile(const std::string& path);
    // A loaded image: indexed images keep their palette, images with an
    // alpha channel keep it; null when the file is no image Qt can read.
    static QImage LoadImage(const std::string& path);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ShowItem(CCacheItem* item);

    CCacheDocument& document_;
    QScrollArea* scroll_;
    CImageCanvas* canvas_;
    QPlainTextEdit* textBox_;
};

} // namespace oriel
