// The manual (res/help/manual.html, bundled): a window with the contents
// (the manual's headings) and a search field on the left, the text on the
// right. One window for the application, brought up again when asked for.
#pragma once

#include <QWidget>

#include <vector>

class QLineEdit;
class QListWidget;
class QTextBrowser;
class QTreeWidget;

namespace oriel {

class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    // The help window (made on first use), showing the contents with the
    // page at `anchor` ("" for the start), or with the search field ready.
    static CHelpWindow* ShowContents(const QString& anchor = {});
    static CHelpWindow* ShowSearch();
    // The open window, or null.
    static CHelpWindow* Instance();

    CHelpWindow();
    ~CHelpWindow() override;

    void ShowTopic(const QString& anchor);
    // Lists the sections that hold every word of `terms` (case ignored);
    // returns their titles.
    QStringList Search(const QString& terms);

    QTextBrowser* Browser() const { return browser_; }
    QTreeWidget* Contents() const { return contents_; }
    QLineEdit* SearchField() const { return search_; }
    QListWidget* Results() const { return results_; }

private:
    struct Section {
        QString anchor;
        QString title;
        QString text;
        int level = 2;
    };
    void BuildContents();

    QTextBrowser* browser_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QLineEdit* search_ = nullptr;
    QListWidget* results_ = nullptr;
    std::vector<Section> sections_;
};

} // namespace oriel
