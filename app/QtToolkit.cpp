#include "app/QtToolkit.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QSvgRenderer>
#include <QUrl>
#include <utility>

namespace app {

namespace {

QtMessageBox::Hook& hook() {
    static QtMessageBox::Hook instance;
    return instance;
}

UrlOpener::Hook& urlHook() {
    static UrlOpener::Hook instance;
    return instance;
}

std::string toStd(const QString& text) {
    return text.toStdString();
}

} // namespace

QFont GridFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setBold(false);
    font.setItalic(false);
    return font;
}

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Drawn here at the usual sizes rather than left to an icon-engine plugin that may be missing.
QIcon ApplicationIcon() {
    QSvgRenderer renderer(QStringLiteral(QH_ICON_RESOURCE));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

std::int32_t QtTextWidth::width(std::string_view text) const {
    return metrics_.horizontalAdvance(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

QtMessageBox::QtMessageBox(QWidget* parent, QString title) : parent_(parent), title_(std::move(title)) {}

void QtMessageBox::setHook(Hook hook_) {
    hook() = std::move(hook_);
}

void QtMessageBox::showMessage(const std::string& text) {
    if (hook()) {
        hook()(Kind::Message, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title_, ToQString(text), QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtMessageBox::showError(const std::string& text) {
    if (hook()) {
        hook()(Kind::Error, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, title_, ToQString(text), QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool UrlOpener::open(const QUrl& url) {
    if (urlHook())
        return urlHook()(url);
    return QDesktopServices::openUrl(url);
}

void UrlOpener::setHook(Hook hook_) {
    urlHook() = std::move(hook_);
}

std::string QtWindowFields::domainText() const {
    return toStd(w_.domain->currentText());
}

std::vector<std::string> QtWindowFields::domainHistory() const {
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(w_.domain->count()));
    for (int i = 0; i < w_.domain->count(); ++i)
        entries.push_back(toStd(w_.domain->itemText(i)));
    return entries;
}

// Refilling the list would put its first entry into the field; the typed text stays instead.
void QtWindowFields::setDomainHistory(const std::vector<std::string>& entries) {
    const QString typed = w_.domain->currentText();
    QStringList items;
    items.reserve(static_cast<qsizetype>(entries.size()));
    for (const std::string& entry : entries)
        items.append(ToQString(entry));
    w_.domain->setUpdatesEnabled(false);
    const QSignalBlocker blocker(w_.domain);
    w_.domain->clear();
    w_.domain->addItems(items);
    w_.domain->setCurrentIndex(-1);
    w_.domain->setEditText(typed);
    w_.domain->setUpdatesEnabled(true);
}

bool QtWindowFields::seokicksChosen() const {
    return w_.seokicks->isChecked();
}
bool QtWindowFields::xoviChosen() const {
    return w_.xovi->isChecked();
}

std::string QtWindowFields::maxergText() const {
    return toStd(w_.maxerg->text());
}
void QtWindowFields::setMaxergText(const std::string& text) {
    w_.maxerg->setText(ToQString(text));
}
std::string QtWindowFields::xoviApiText() const {
    return toStd(w_.xoviApi->text());
}
void QtWindowFields::setXoviApiText(const std::string& text) {
    w_.xoviApi->setText(ToQString(text));
}
std::string QtWindowFields::seokicksText() const {
    return toStd(w_.seokicksCode->text());
}
void QtWindowFields::setSeokicksText(const std::string& text) {
    w_.seokicksCode->setText(ToQString(text));
}

void QtWindowFields::setCaption(const std::string& text) {
    w_.window->setWindowTitle(ToQString(text));
}

} // namespace app
