#include "app/SingleLine.h"

#include <QLineEdit>
#include <QValidator>

namespace app {

namespace {

// A validator sees every change of the text, also one made by setText, and the field takes the
// text as the validator leaves it.
class NoLineBreaks final : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        qsizetype kept = 0;
        int cursor = pos;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            if (c == u'\r' || c == u'\n') {
                if (i < pos)
                    --cursor;
                continue;
            }
            input[kept++] = c;
        }
        input.truncate(kept);
        pos = cursor;
        return Acceptable;
    }
};

} // namespace

void MakeSingleLine(QLineEdit* edit) {
    edit->setValidator(new NoLineBreaks(edit));
}

} // namespace app
