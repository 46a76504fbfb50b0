#pragma once
// Small bridges between the core's UTF-8 strings and Qt, shared by the window and its dialogs.

#include <QLabel>
#include <QPalette>
#include <QString>
#include <string>
#include <string_view>

namespace app {

inline QString QtText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string StdText(const QString& text) {
    return text.toUtf8().toStdString();
}

// The cells' own background tells the colour scheme.
inline bool IsDarkScheme(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

// A label for text from outside: never read as markup.
inline QLabel* PlainLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace app
