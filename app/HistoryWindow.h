#pragma once
// Datei > Verlauf…: the stored Prüfe runs of the domain in the domain field, a plot of its follow
// links and linking pages over time, and the changes between any two runs, which can be saved.

#include "retrieval/RunHistory.h"
#include "storage/Changes.h"

#include <QDialog>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace app {

// Follow links and linking pages of each finished run, drawn on the palette's own colours.
class HistoryPlot final : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPlot(QWidget* parent = nullptr);
    void setSeries(std::vector<retrieval::PlotPoint> points);
    const std::vector<retrieval::PlotPoint>& series() const { return points_; }
    // The lines' colours in the current scheme: follow links, linking pages.
    QColor followColour() const;
    QColor linkingColour() const;

    QSize sizeHint() const override { return {560, 180}; }
    QSize minimumSizeHint() const override { return {240, 120}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<retrieval::PlotPoint> points_;
};

class HistoryWindow final : public QDialog {
    Q_OBJECT
public:
    // Where "Speichern…" writes the comparison: a file dialog unless a test sets a hook. An empty
    // path means the user cancelled.
    using PathAsker = std::function<QString(QWidget* parent, const QString& suggested)>;
    static void setPathHook(PathAsker hook);

    HistoryWindow(std::string programFolder, QString domain, QWidget* parent = nullptr);

    // Reads the runs again and compares the last two finished ones.
    void reload();
    // Compares the two runs chosen in the combo boxes.
    void compareChosen();
    // Writes the comparison shown: CSV, or the HTML page when the path ends in .html.
    void save();

    QLabel* Meldung;      // plain German messages: no runs, an unreadable history, a failed save
    QTableWidget* Laeufe; // the runs
    HistoryPlot* Verlaufskurve;
    QComboBox* VergleichVon; // the earlier run
    QComboBox* VergleichMit; // the later run
    QLabel* VergleichZeile;  // the summary line of the comparison
    QTableWidget* Vergleich; // the changes, as the changes report lists them
    QPushButton* Speichern;

private:
    void showMessage(const QString& text);
    void fillComparison();

    std::string folder_;
    QString domain_;
    std::optional<storage::Comparison> comparison_;
};

} // namespace app
