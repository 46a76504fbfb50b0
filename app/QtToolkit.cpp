#include "app/QtToolkit.h"
#include "app/QtText.h"

#include "app/ProgressStatus.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QSvgRenderer>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace app {

namespace {

QtMessageBox::Hook& hook() {
    static QtMessageBox::Hook instance;
    return instance;
}

bool& nextAnswer() {
    static bool instance = false;
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

namespace {

constexpr char32_t kAdvanceTableEnd = 0x2200;
constexpr std::int32_t kUnknown = -1;
constexpr std::int32_t kShaped = -2;

} // namespace

// Printable ASCII; Latin-1 up to the spacing modifier letters, without the soft hyphen (drawn
// only at a line break, so Qt gives it no width) and the tone letters and marks (fonts join
// them into contours); the dashes, quotes, bullets and primes of the general punctuation, without its
// spaces, separators and format characters; currency signs; letterlike symbols, number forms
// and arrows. Each is one glyph that no shaping rule of a left-to-right text touches.
bool QtTextWidth::AddsUp(char32_t c) {
    if (c < 0x80)
        return c >= 0x20 && c < 0x7F;
    if (c < 0x300)
        return c >= 0xA0 && c != 0xAD && !(c >= 0x2E5 && c <= 0x2EB);
    return (c >= 0x2010 && c <= 0x2027) || (c >= 0x2030 && c <= 0x205E) || (c >= 0x20A0 && c <= 0x20C0) ||
           (c >= 0x2100 && c <= 0x21FF);
}

QFont QtTextWidth::WithoutKerning(QFont font) {
    font.setKerning(false);
    return font;
}

QtTextWidth::QtTextWidth(const QFont& font)
    : font_(WithoutKerning(font)), metrics_(font_), advances_(kAdvanceTableEnd, kUnknown) {}

std::int32_t QtTextWidth::shapedWidth(std::string_view text) const {
    if (const auto it = shaped_.find(text); it != shaped_.end())
        return it->second;
    const std::int32_t width =
        metrics_.horizontalAdvance(QtText(text));
    if (shaped_.size() >= kShapedEntries)
        shaped_.clear();
    shaped_.emplace(text, width);
    return width;
}

// One character alone goes through the same shaping as a whole text, so its advance is the one
// Qt would add up for it.
std::int32_t QtTextWidth::learn(char32_t c) const {
    std::int32_t& slot = advances_[c];
    if (!AddsUp(c)) {
        slot = kShaped;
        return slot;
    }
    const qreal advance = QFontMetricsF(font_).horizontalAdvance(QString(QChar(static_cast<char16_t>(c))));
    const auto fixed = std::llround(advance * 64); // exact: Qt's advances are multiples of 1/64
    slot = fixed >= 0 && fixed <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(fixed)
                                                                           : kShaped;
    return slot;
}

std::int32_t QtTextWidth::width(std::string_view text) const {
    std::int64_t sum = 0; // 1/64 px
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p != end) {
        char32_t c = *p;
        if (c < 0x80) {
            ++p;
        } else if (c >= 0xC2 && c < 0xE0 && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            c = ((c & 0x1F) << 6) | (p[1] & 0x3F);
            p += 2;
        } else if (c >= 0xE0 && c < 0xF0 && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
            c = ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
            p += 3;
            if (c < 0x800)
                return shapedWidth(text); // overlong: Qt shows a replacement character
        } else {
            return shapedWidth(text); // four bytes or invalid
        }
        if (c >= kAdvanceTableEnd)
            return shapedWidth(text);
        std::int32_t advance = advances_[c];
        if (advance < 0 && (advance == kShaped || (advance = learn(c)) < 0))
            return shapedWidth(text);
        sum += advance;
    }
    // Rounded as Qt rounds its fixed point: halves up.
    return static_cast<std::int32_t>(
        std::min<std::int64_t>((sum + 32) >> 6, std::numeric_limits<std::int32_t>::max()));
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
    QMessageBox box(QMessageBox::NoIcon, title_, QtText(text), QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtMessageBox::showError(const std::string& text) {
    if (hook()) {
        hook()(Kind::Error, text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, title_, QtText(text), QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtMessageBox::setNextAnswer(bool yes) {
    nextAnswer() = yes;
}

bool QtMessageBox::askYesNo(const std::string& question) {
    if (hook()) {
        hook()(Kind::Question, question);
        return std::exchange(nextAnswer(), false);
    }
    QMessageBox box(QMessageBox::Question, title_, QtText(question), QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nein"));
    return box.exec() == QMessageBox::Yes;
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

void QtWindowFields::setDomainText(const std::string& text) {
    w_.domain->setEditText(QtText(text));
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
        items.append(QtText(entry));
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
    w_.maxerg->setText(QtText(text));
}
std::string QtWindowFields::xoviApiText() const {
    return toStd(w_.xoviApi->text());
}
void QtWindowFields::setXoviApiText(const std::string& text) {
    w_.xoviApi->setText(QtText(text));
}
std::string QtWindowFields::seokicksText() const {
    return toStd(w_.seokicksCode->text());
}
void QtWindowFields::setSeokicksText(const std::string& text) {
    w_.seokicksCode->setText(QtText(text));
}

// The caption quotes addresses from pages. Qt takes "[*]" for its modified marker and drops it;
// doubled, it shows as written.
void QtWindowFields::setCaption(const std::string& text) {
    w_.window->setWindowTitle(QtText(text).replace(QLatin1String("[*]"), QLatin1String("[*][*]")));
}

void QtWindowFields::setStatusLine(const std::string& text) {
    if (w_.statusLine == nullptr)
        return;
    w_.statusLine->setText(QtText(text));
    w_.statusLine->setVisible(!text.empty());
}

void QtWindowFields::setProgress(const toolkit::Progress& progress) {
    if (w_.progress != nullptr)
        w_.progress->set(progress);
}

} // namespace app
