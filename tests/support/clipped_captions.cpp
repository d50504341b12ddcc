// ClippedCaptions: which label and button captions of a form do not fit their controls.
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include "support/modal.h"

namespace qvtest {

using platform::ui::Control;
using platform::ui::Form;

namespace {
QString WithoutMnemonics(QString text) {
    text.replace("&&", QString(QChar(1)));
    text.remove('&');
    return text.replace(QChar(1), "&");
}

bool LabelFits(const QLabel *l) {
    const QRect room = l->contentsRect();
    const QRect needed = l->fontMetrics().boundingRect(QRect(0, 0, room.width(), 100000),
                                                       Qt::TextWordWrap | Qt::AlignLeft, l->text());
    return needed.width() <= room.width() && needed.height() <= room.height();
}

bool ButtonFits(const QPushButton *b) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    // the room the style leaves for the text inside the bevel
    const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
    const int margin = 2 * b->style()->pixelMetric(QStyle::PM_ButtonMargin, &opt, b) / 2;
    const QFontMetrics fm = b->fontMetrics();
    return fm.horizontalAdvance(WithoutMnemonics(b->text())) <= room.width() - margin &&
           fm.height() <= room.height();
}
}  // namespace

std::vector<std::string> ClippedCaptions(const Form &form) {
    std::vector<std::string> out;
    for (Control *c : form.Controls()) {
        bool fits = true;
        QString text;
        if (auto *l = qobject_cast<QLabel *>(c->widget())) {
            fits = LabelFits(l);
            text = l->text();
        } else if (auto *b = qobject_cast<QPushButton *>(c->widget())) {
            fits = ButtonFits(b);
            text = b->text();
        }
        if (!fits) {
            const std::string id = c->Index() < 0 ? c->Name() : c->Name() + "(" + std::to_string(c->Index()) + ")";
            out.push_back(id + ": " + text.toStdString());
        }
    }
    return out;
}

}  // namespace qvtest
