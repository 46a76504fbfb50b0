#include "text/SystemReason.h"

#include <cerrno>
#include <cstring>

namespace text {

std::string SystemReason(int errorNumber) {
    switch (errorNumber) {
    case ENOENT:
        return "Datei oder Verzeichnis nicht gefunden";
    case EACCES:
        return "Zugriff verweigert";
    case EPERM:
        return "Vorgang nicht zulässig";
    case EISDIR:
        return "Ist ein Verzeichnis";
    case ENOTDIR:
        return "Ein Teil des Pfades ist kein Verzeichnis";
    case ENOSPC:
        return "Kein Speicherplatz mehr auf dem Gerät";
    case EDQUOT:
        return "Speicherkontingent überschritten";
    case EROFS:
        return "Dateisystem ist schreibgeschützt";
    case EFBIG:
        return "Datei ist zu groß";
    case ENAMETOOLONG:
        return "Dateiname ist zu lang";
    case EIO:
        return "Ein-/Ausgabefehler";
    case EMFILE:
    case ENFILE:
        return "Zu viele offene Dateien";
    case EBUSY:
        return "Gerät oder Ressource belegt";
    case ELOOP:
        return "Zu viele Ebenen symbolischer Verknüpfungen";
    case EINVAL:
        return "Ungültiges Argument";
    default:
        return "Systemfehler " + std::to_string(errorNumber) + ": " + std::strerror(errorNumber);
    }
}

} // namespace text
