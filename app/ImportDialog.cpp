#include "app/ImportDialog.h"

#include "app/QtText.h"
#include "retrieval/ImportCommand.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <exception>
#include <utility>

namespace app {

namespace {

ImportDialog::PathAsker& PathHook() {
    static ImportDialog::PathAsker hook;
    return hook;
}

QString RoleName(const retrieval::ColumnRoles& roles, int col) {
    if (col == roles.source)
        return QStringLiteral(" → Link-URL");
    if (col == roles.anchor)
        return QStringLiteral(" → Ankertext");
    if (col == roles.follow)
        return QStringLiteral(" → Follow");
    if (col == roles.target)
        return QStringLiteral(" → Ziel-URL");
    return {};
}

} // namespace

ImportDialog::ImportDialog(const table::BacklinkTable& table, std::string domainText, QWidget* parent)
    : QDialog(parent), table_(table), domain_(std::move(domainText)) {
    setObjectName(QStringLiteral("ImportDialog"));
    setWindowTitle(QStringLiteral("Links importieren"));

    Datei = PlainLabel(this, "Datei");
    Erkannt = PlainLabel(this, "Erkannt");
    Meldung = PlainLabel(this, "Meldung");
    Zaehlung = PlainLabel(this, "Zaehlung");
    LinkSpalte = new QComboBox(this);
    LinkSpalte->setObjectName(QStringLiteral("LinkSpalte"));
    Vorschau = new QTableWidget(0, 0, this);
    Vorschau->setObjectName(QStringLiteral("Vorschau"));
    Vorschau->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Vorschau->verticalHeader()->hide();
    DateiWaehlen = new QPushButton(QStringLiteral("Datei wählen…"), this);
    DateiWaehlen->setObjectName(QStringLiteral("DateiWaehlen"));
    Einfuegen = new QPushButton(QStringLiteral("Aus der Zwischenablage"), this);
    Einfuegen->setObjectName(QStringLiteral("Einfuegen"));
    Importieren = new QPushButton(QStringLiteral("Importieren"), this);
    Importieren->setObjectName(QStringLiteral("Importieren"));
    Importieren->setEnabled(false);
    Importieren->setDefault(true);
    Schliessen = new QPushButton(QStringLiteral("Abbrechen"), this);
    Schliessen->setObjectName(QStringLiteral("Schliessen"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Datei:"), Datei);
    form->addRow(QStringLiteral("Erkannt:"), Erkannt);
    form->addRow(QStringLiteral("Spalte der Link-URL:"), LinkSpalte);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(DateiWaehlen);
    buttons->addWidget(Einfuegen);
    buttons->addStretch();
    buttons->addWidget(Importieren);
    buttons->addWidget(Schliessen);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(Meldung);
    layout->addWidget(Vorschau, 1);
    layout->addWidget(Zaehlung);
    layout->addLayout(buttons);
    resize(760, 460);
    Meldung->hide();

    connect(DateiWaehlen, &QPushButton::clicked, this, [this] {
        const QString path = askPath(this);
        if (!path.isEmpty())
            openFile(path);
    });
    connect(Einfuegen, &QPushButton::clicked, this, [this] { openText(QApplication::clipboard()->text()); });
    connect(Importieren, &QPushButton::clicked, this, &QDialog::accept);
    connect(Schliessen, &QPushButton::clicked, this, &QDialog::reject);
    connect(LinkSpalte, &QComboBox::activated, this, &ImportDialog::chooseSourceColumn);
}

QString ImportDialog::askPath(QWidget* parent) {
    if (PathHook())
        return PathHook()(parent);
    return QFileDialog::getOpenFileName(
        parent, QStringLiteral("Links importieren"), QString(),
        QStringLiteral("Linklisten (*.csv *.tsv *.txt *.zip *.xlsx);;Alle Dateien (*)"));
}

void ImportDialog::setPathAsker(PathAsker asker) {
    PathHook() = std::move(asker);
}

void ImportDialog::openFile(const QString& path) {
    const std::string file = StdText(path);
    read([&] { return retrieval::ReadLinkFile(file, retrieval::DomainFormsOf(domain_)); }, path);
}

void ImportDialog::openText(const QString& text) {
    std::string bytes = StdText(text);
    read(
        [&] {
            return retrieval::ReadLinkBytes(std::move(bytes), "Zwischenablage",
                                            retrieval::DomainFormsOf(domain_));
        },
        QStringLiteral("Zwischenablage"));
}

void ImportDialog::read(const std::function<retrieval::LinkList()>& reader, const QString& shownName) {
    list_.reset();
    Datei->setText(shownName);
    try {
        list_ = reader();
        roles_ = list_->roles;
        Meldung->hide();
    } catch (const std::exception& e) {
        Meldung->setText(QtText(e.what()));
        Meldung->show();
    }
    showList();
}

void ImportDialog::showList() {
    Vorschau->clear();
    const QSignalBlocker block(LinkSpalte);
    LinkSpalte->clear();
    if (!list_) {
        Erkannt->clear();
        Vorschau->setRowCount(0);
        Vorschau->setColumnCount(0);
        Zaehlung->clear();
        Importieren->setEnabled(false);
        return;
    }
    const retrieval::LinkSheet& sheet = list_->sheet;
    Erkannt->setText(QtText(retrieval::Describe(*list_)));
    const int columns = static_cast<int>(sheet.columns());
    for (int c = 0; c < columns; ++c)
        LinkSpalte->addItem(QtText(retrieval::ColumnLabel(*list_, c)), c);
    LinkSpalte->setCurrentIndex(roles_.source);

    const int rows = static_cast<int>(std::min<std::size_t>(sheet.rows(), kPreviewRows));
    Vorschau->setColumnCount(columns);
    Vorschau->setRowCount(rows);
    QStringList headers;
    for (int c = 0; c < columns; ++c)
        headers << QtText(retrieval::ColumnLabel(*list_, c)) + RoleName(roles_, c);
    Vorschau->setHorizontalHeaderLabels(headers);
    // Items show their text as it stands: a cell with markup is never rendered.
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            auto* item = new QTableWidgetItem(
                QtText(sheet.cell(static_cast<std::size_t>(r), static_cast<std::size_t>(c))));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            Vorschau->setItem(r, c, item);
        }
    showCounts();
}

void ImportDialog::showCounts() {
    try {
        const retrieval::ImportCounts counts = retrieval::CountImport(table_, *list_, roles_);
        QString text = QtText(retrieval::CountsText(counts));
        if (retrieval::ImportAddsTo(table_))
            text += QStringLiteral(" (zur Tabelle hinzu)");
        Zaehlung->setText(text);
        Importieren->setEnabled(counts.fresh > 0);
    } catch (const std::exception& e) {
        Zaehlung->setText(QtText(e.what()));
        Importieren->setEnabled(false);
    }
}

void ImportDialog::chooseSourceColumn(int index) {
    if (!list_ || index < 0)
        return;
    const int col = LinkSpalte->itemData(index).toInt();
    if (col == roles_.target)
        roles_.target = -1;
    if (col == roles_.anchor)
        roles_.anchor = -1;
    if (col == roles_.follow) {
        roles_.follow = -1;
        roles_.followKind = retrieval::FollowKind::None;
    }
    roles_.source = col;
    showList();
}

} // namespace app
