// The properties of one cached item, as an examiner records them: URL,
// cache name, the host path of its (prepared) body, sizes, the three dates
// in UTC, MIME type, content encoding, the SHA-256 and MD5 of the body,
// the fields only its format has, and the stored response headers; with a
// button that copies it all as text. The item's PrepareFile has run.
#pragma once

#include <QDialog>
#include <QString>

#include <utility>
#include <vector>

class QPushButton;

namespace oriel {

class CCacheItem;

struct ItemProperties {
    std::vector<std::pair<QString, QString>> fields; // label, value, in order
    QString headers;                                 // the stored response headers, one a line
    // All of it as text: "Label: value" lines, then the headers under
    // their title.
    QString Text() const;
};

// Reads the body file to hash it.
ItemProperties GatherProperties(CCacheItem& item);

class CPropertiesDlg : public QDialog {
    Q_OBJECT
public:
    explicit CPropertiesDlg(CCacheItem& item, QWidget* parent = nullptr);

    const ItemProperties& Properties() const { return properties_; }
    QPushButton* CopyButton() const { return copy_; }

private:
    ItemProperties properties_;
    QPushButton* copy_ = nullptr;
};

} // namespace oriel
