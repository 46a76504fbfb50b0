#pragma once
// Datei > Links importieren…: a link list from a file (chosen, dropped on the window) or from the
// clipboard, with what was recognised, a preview of its first rows and the counts the import would
// give; the user may choose another linking-page column before "Importieren". The reading and
// counting live in retrieval/import and retrieval/ImportCommand; this only shows them.

#include "retrieval/import/LinkFile.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace table {
class BacklinkTable;
}

namespace app {

class ImportDialog final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPreviewRows = 20;

    // The counts are those against `table` as it stands; `domainText` tells target addresses apart.
    ImportDialog(const table::BacklinkTable& table, std::string domainText, QWidget* parent = nullptr);

    void openFile(const QString& path);
    void openText(const QString& text);

    // Set once a list was read; with the columns the user chose.
    retrieval::LinkList* list() { return list_ ? &*list_ : nullptr; }
    retrieval::ColumnRoles roles() const { return roles_; }

    // The file chooser; a test answers it in advance.
    using PathAsker = std::function<QString(QWidget* parent)>;
    static QString askPath(QWidget* parent);
    static void setPathAsker(PathAsker asker);

    QLabel* Datei;
    QLabel* Erkannt;
    QComboBox* LinkSpalte;
    QTableWidget* Vorschau;
    QLabel* Zaehlung;
    QLabel* Meldung;
    QPushButton* DateiWaehlen;
    QPushButton* Einfuegen;
    QPushButton* Importieren;
    QPushButton* Schliessen;

private:
    void read(const std::function<retrieval::LinkList()>& reader, const QString& shownName);
    void showList();
    void showCounts();
    void chooseSourceColumn(int index);

    const table::BacklinkTable& table_;
    std::string domain_;
    std::optional<retrieval::LinkList> list_;
    retrieval::ColumnRoles roles_;
};

} // namespace app
