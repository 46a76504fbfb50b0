#pragma once
// Datei > Überwachung…: the watch list of the history store, which the scheduled run checks, and
// the switch of the timer that runs it (TimerSwitch.h).

#include "app/TimerSwitch.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace app {

class WatchWindow final : public QDialog {
    Q_OBJECT
public:
    // `service` is "seokicks" or "xovi", `limit` the main window's max text.
    WatchWindow(std::string programFolder, const QString& domain, const QString& service,
                const QString& limit, QWidget* parent = nullptr);

    // Reads the list again.
    void reload();
    // Adds the entry of the fields, or replaces the one of its domain.
    void addEntry();
    // Removes the entry of the selected row.
    void removeSelected();
    // Asks systemctl whether the timer is on and shows it.
    void readTimerState();

    QLabel* Meldung;     // plain German messages: an unreadable history, a failed change
    QTableWidget* Liste; // the watch list
    QLineEdit* Domain;   // the entry to add
    QComboBox* Dienst;
    QSpinBox* Max;
    QLineEdit* ListeDatei;     // service "Liste": the file read again at each run
    QPushButton* ListeWaehlen; // chooses it
    QComboBox* Intervall;
    QPushButton* Hinzufuegen;
    QPushButton* Entfernen;
    QCheckBox* Automatisch; // the systemd user timer
    QLabel* TimerMeldung;   // why the timer cannot be switched, and what to do instead
    QLineEdit* CronZeile;   // the cron line, to copy; shown only then

private:
    void showMessage(const QString& text);
    void showServiceFields();
    void switchTimer(bool on);
    void showTimerUnavailable(const std::string& problem);

    std::string folder_;
    std::unique_ptr<TimerSwitch> timer_;
};

} // namespace app
