#include "app/HistoryWindow.h"
#include "app/QtText.h"

#include "storage/Files.h"
#include "storage/Reports.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

namespace app {

namespace {

QString DateText(std::time_t time) {
    return QtText(storage::RunTimeText(time));
}

QTableWidget* Table(QWidget* parent, const char* name, const QStringList& headers) {
    auto* table = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void SetRow(QTableWidget* table, int row, const QStringList& cells) {
    for (int col = 0; col < cells.size(); ++col) {
        auto* item = new QTableWidgetItem(cells[col]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        table->setItem(row, col, item);
    }
}

HistoryWindow::PathAsker& PathHook() {
    static HistoryWindow::PathAsker hook;
    return hook;
}

} // namespace

HistoryPlot::HistoryPlot(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Verlaufskurve"));
    setAutoFillBackground(false);
}

void HistoryPlot::setSeries(std::vector<retrieval::PlotPoint> points) {
    points_ = std::move(points);
    update();
}

QColor HistoryPlot::followColour() const {
    return IsDarkScheme(palette()) ? QColor(0x82, 0xB1, 0xFF) : QColor(0x15, 0x65, 0xC0);
}

QColor HistoryPlot::linkingColour() const {
    return IsDarkScheme(palette()) ? QColor(0xA5, 0xD6, 0xA7) : QColor(0x2E, 0x7D, 0x32);
}

void HistoryPlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const QColor text = palette().color(QPalette::Text);
    const QFontMetrics metrics(font());
    const int line = metrics.height();
    painter.setPen(text);
    if (points_.empty()) {
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Noch keine abgeschlossene Prüfung"));
        return;
    }
    std::int64_t top = 1;
    for (const retrieval::PlotPoint& p : points_)
        top = std::max({top, p.follow, p.linking});
    const QString topText = QString::number(top);
    const QRect area(metrics.horizontalAdvance(topText) + 10, line + 8,
                     std::max(10, width() - metrics.horizontalAdvance(topText) - 30),
                     std::max(10, height() - 3 * line - 12));

    // Legend above, axes with the largest count and the first and last date.
    int x = area.left();
    for (const auto& [colour, name] : {std::pair{followColour(), QStringLiteral("Links follow")},
                                       std::pair{linkingColour(), QStringLiteral("verlinkende Seiten")}}) {
        painter.fillRect(QRect(x, 4 + line / 2 - 2, 14, 4), colour);
        painter.setPen(text);
        painter.drawText(x + 18, 4 + metrics.ascent(), name);
        x += 18 + metrics.horizontalAdvance(name) + 16;
    }
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.bottomLeft(), area.topLeft());
    painter.drawText(QRect(0, area.top() - line / 2, area.left() - 4, line),
                     Qt::AlignRight | Qt::AlignVCenter, topText);
    painter.drawText(QRect(0, area.bottom() - line / 2, area.left() - 4, line),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    const std::time_t first = points_.front().time;
    const std::time_t last = points_.back().time;
    const QString firstDate = DateText(first).left(10);
    const QString lastDate = DateText(last).left(10);
    const int labelTop = area.bottom() + 4;
    painter.drawText(QRect(area.left(), labelTop, area.width(), line), Qt::AlignLeft | Qt::AlignTop,
                     firstDate);
    if (points_.size() > 1)
        painter.drawText(QRect(area.left(), labelTop, area.width(), line), Qt::AlignRight | Qt::AlignTop,
                         lastDate);

    const auto at = [&](std::size_t i, std::int64_t value) {
        const double span = static_cast<double>(last - first);
        const double fx =
            span > 0 ? static_cast<double>(points_[i].time - first) / span
                     : (points_.size() > 1 ? static_cast<double>(i) / static_cast<double>(points_.size() - 1)
                                           : 0.5);
        return QPointF(area.left() + fx * area.width(),
                       area.bottom() - static_cast<double>(value) / static_cast<double>(top) * area.height());
    };
    painter.setRenderHint(QPainter::Antialiasing);
    for (const bool follow : {false, true}) {
        const QColor colour = follow ? followColour() : linkingColour();
        QPainterPath path;
        for (std::size_t i = 0; i < points_.size(); ++i) {
            const QPointF p = at(i, follow ? points_[i].follow : points_[i].linking);
            if (i == 0)
                path.moveTo(p);
            else
                path.lineTo(p);
        }
        painter.setPen(QPen(colour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.setBrush(colour);
        for (std::size_t i = 0; i < points_.size(); ++i)
            painter.drawEllipse(at(i, follow ? points_[i].follow : points_[i].linking), 3, 3);
    }
}

void HistoryWindow::setPathHook(PathAsker hook) {
    PathHook() = std::move(hook);
}

HistoryWindow::HistoryWindow(std::string programFolder, QString domain, QWidget* parent)
    : QDialog(parent), folder_(std::move(programFolder)), domain_(std::move(domain)) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("Verlauf ") + domain_);
    auto* layout = new QVBoxLayout(this);

    Meldung = PlainLabel(this, "Meldung");
    layout->addWidget(Meldung);
    Laeufe = Table(this, "Laeufe",
                   {QStringLiteral("Datum"), QStringLiteral("Dienst"), QStringLiteral("Seiten"),
                    QStringLiteral("gefunden"), QStringLiteral("nicht gefunden"), QStringLiteral("Fehler"),
                    QStringLiteral("Links follow"), QStringLiteral("Links nofollow")});
    layout->addWidget(Laeufe, 2);
    Verlaufskurve = new HistoryPlot(this);
    layout->addWidget(Verlaufskurve, 2);

    auto* choice = new QHBoxLayout;
    VergleichVon = new QComboBox(this);
    VergleichVon->setObjectName(QStringLiteral("VergleichVon"));
    VergleichMit = new QComboBox(this);
    VergleichMit->setObjectName(QStringLiteral("VergleichMit"));
    Speichern = new QPushButton(QStringLiteral("Speichern…"), this);
    Speichern->setObjectName(QStringLiteral("Speichern"));
    Speichern->setAutoDefault(false);
    auto* from = PlainLabel(this, "LabelVon");
    from->setText(QStringLiteral("Vergleich von"));
    from->setWordWrap(false);
    auto* with = PlainLabel(this, "LabelMit");
    with->setText(QStringLiteral("mit"));
    with->setWordWrap(false);
    choice->addWidget(from);
    choice->addWidget(VergleichVon, 1);
    choice->addWidget(with);
    choice->addWidget(VergleichMit, 1);
    choice->addWidget(Speichern);
    layout->addLayout(choice);
    VergleichZeile = PlainLabel(this, "VergleichZeile");
    layout->addWidget(VergleichZeile);
    QStringList headers;
    for (const std::string_view title : storage::kChangesHeader)
        headers << QtText(title);
    Vergleich = Table(this, "Vergleich", headers);
    layout->addWidget(Vergleich, 3);

    connect(VergleichVon, &QComboBox::activated, this, &HistoryWindow::compareChosen);
    connect(VergleichMit, &QComboBox::activated, this, &HistoryWindow::compareChosen);
    connect(Speichern, &QPushButton::clicked, this, &HistoryWindow::save);
    resize(760, 640);
    reload();
}

void HistoryWindow::showMessage(const QString& text) {
    Meldung->setText(text);
    Meldung->setVisible(!text.isEmpty());
}

void HistoryWindow::reload() {
    comparison_.reset();
    const retrieval::HistoryOverview overview =
        retrieval::ReadHistoryOverview(folder_, domain_.toStdString());
    QStringList messages;
    if (!overview.notice.empty())
        messages << QtText(overview.notice);
    if (!overview.fault.empty())
        messages << QStringLiteral("Der Verlauf konnte nicht gelesen werden: ") + QtText(overview.fault) + '.';
    else if (overview.runs.empty())
        messages << QStringLiteral("Für ") + domain_ + QStringLiteral(" ist noch keine Prüfung gespeichert.");
    showMessage(messages.join('\n'));

    Laeufe->setRowCount(static_cast<int>(overview.runs.size()));
    VergleichVon->clear();
    VergleichMit->clear();
    int row = 0;
    for (const storage::RunSummary& run : overview.runs) {
        QString date = DateText(run.time);
        if (!run.finished)
            date += QStringLiteral(" (abgebrochen)");
        SetRow(Laeufe, row++,
               {date, QtText(run.service), QString::number(run.pages), QString::number(run.found),
                QString::number(run.notFound), QString::number(run.failed), QString::number(run.follow),
                QString::number(run.nofollow)});
        // Only finished runs are compared, as a Prüfe is.
        if (run.finished) {
            VergleichVon->addItem(date, QVariant::fromValue(static_cast<qlonglong>(run.id)));
            VergleichMit->addItem(date, QVariant::fromValue(static_cast<qlonglong>(run.id)));
        }
    }
    Laeufe->resizeColumnsToContents();
    Verlaufskurve->setSeries(retrieval::PlotSeries(overview.runs));
    const int finished = VergleichMit->count();
    VergleichVon->setCurrentIndex(std::max(0, finished - 2));
    VergleichMit->setCurrentIndex(finished - 1);
    if (finished >= 2)
        compareChosen();
    else
        fillComparison();
}

void HistoryWindow::compareChosen() {
    comparison_.reset();
    if (VergleichVon->currentIndex() < 0 || VergleichMit->currentIndex() < 0) {
        fillComparison();
        return;
    }
    const auto a = VergleichVon->currentData().toLongLong();
    const auto b = VergleichMit->currentData().toLongLong();
    storage::Result<storage::Comparison> result =
        retrieval::CompareStoredRuns(folder_, domain_.toStdString(), a, b);
    if (result.fault)
        showMessage(QStringLiteral("Der Vergleich konnte nicht gelesen werden: ") +
                    QtText(result.fault.reason) + '.');
    else
        comparison_ = std::move(result.value);
    fillComparison();
}

void HistoryWindow::fillComparison() {
    const bool shown = comparison_.has_value() && VergleichVon->currentData() != VergleichMit->currentData();
    Speichern->setEnabled(shown);
    Vergleich->setRowCount(0);
    if (!shown) {
        VergleichZeile->setText(
            VergleichMit->count() < 2
                ? QStringLiteral("Für einen Vergleich braucht es zwei abgeschlossene Prüfungen.")
                : QStringLiteral("Bitte zwei verschiedene Prüfungen wählen."));
        return;
    }
    VergleichZeile->setText(QtText(storage::SummaryLine(*comparison_)));
    Vergleich->setRowCount(static_cast<int>(comparison_->entries.size()));
    int row = 0;
    for (const storage::ChangeEntry& e : comparison_->entries)
        SetRow(Vergleich, row++,
               {QtText(e.url), QtText(e.word), QtText(e.before), QtText(e.now),
                e.beforeTime == 0 ? QString() : DateText(e.beforeTime)});
    Vergleich->resizeColumnsToContents();
}

void HistoryWindow::save() {
    if (!comparison_)
        return;
    const QString suggested = QString::fromStdString(folder_) +
                              QtText(storage::DomainStamp(domain_.toStdString())) +
                              QStringLiteral("_vergleich.csv");
    const QString path =
        PathHook() ? PathHook()(this, suggested)
                   : QFileDialog::getSaveFileName(this, QStringLiteral("Vergleich speichern"), suggested,
                                                  QStringLiteral("CSV-Datei (*.csv);;HTML-Seite (*.html)"));
    if (path.isEmpty())
        return;
    try {
        const std::string file = path.toStdString();
        if (path.endsWith(QStringLiteral(".html"), Qt::CaseInsensitive))
            storage::WriteFileAtomic(file, storage::ChangesHtml(*comparison_, domain_.toStdString()));
        else
            storage::WriteFileAtomic(file, storage::ChangesCsv(*comparison_));
        showMessage(QStringLiteral("Gespeichert: ") + path);
    } catch (const std::exception& e) {
        showMessage(QStringLiteral("Die Datei konnte nicht gespeichert werden: ") + QtText(e.what()));
    }
}

} // namespace app
