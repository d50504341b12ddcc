#pragma once
// Driving real modal boxes and dialogs from tests, recording the boxes of MsgBox, what a screen
// reader announces.
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <gtest/gtest.h>
#include <vector>

#include "platform/ui/app.h"
#include "platform/ui/forms.h"

namespace qvtest {

// Acts on the next modal widget of type T as soon as it is shown (polls every 10 ms). Fails the
// test and closes whatever modal widget is open when none shows within the time limit, so a test
// never hangs. Call it before the code that opens the box.
template <class T>
void onNextModal(std::function<void(T *)> act, int timeoutMs = 5000) {
    auto *poll = new QTimer(qApp);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QObject::connect(poll, &QTimer::timeout, poll, [=] {
        if (auto *w = qobject_cast<T *>(QApplication::activeModalWidget()); w && w->isVisible()) {
            poll->stop();
            poll->deleteLater();
            act(w);
        } else if (clock->elapsed() > timeoutMs) {
            poll->stop();
            poll->deleteLater();
            ADD_FAILURE() << "no modal dialog of the expected type was shown";
            if (auto *m = QApplication::activeModalWidget()) m->close();
        }
    });
    poll->start(10);
}

// The name a screen reader announces for a control.
inline std::string AccessibleName(const platform::ui::Control *c) {
    return QAccessible::queryAccessibleInterface(c->widget())->text(QAccessible::Name).toStdString();
}
// The text of the label that a screen reader announces a control by ("" when none). On Linux a combo
// box is named by its label only: its own name is its text.
inline std::string LabelledBy(const platform::ui::Control *c) {
    for (const auto &[label, relation] : QAccessible::queryAccessibleInterface(c->widget())->relations(QAccessible::Label))
        return label->text(QAccessible::Name).toStdString();
    return {};
}

// The label and button captions of a form that do not fit their controls in the form's fonts
// ("lblName(2): caption text"); empty when every caption shows whole.
std::vector<std::string> ClippedCaptions(const platform::ui::Form &form);
// The lists, trees, tables, their column headers, combo boxes and progress bars of a window that a screen
// reader would announce by no name, by a number (a header's default) or, for a combo box or a progress
// bar, by its value: "<role> '<name>'" each.
inline std::vector<std::string> UnnamedForAScreenReader(const platform::ui::Form &form) {
    using A = QAccessible;
    std::vector<std::string> unnamed;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *a) {
        const QString name = a->text(A::Name).trimmed();
        bool number = false;
        (void)name.toInt(&number);
        const bool valued = a->role() == A::ComboBox || a->role() == A::ProgressBar;
        for (A::Role role : {A::List, A::Tree, A::Table, A::ColumnHeader, A::ComboBox, A::ProgressBar})
            if (a->role() == role && (name.isEmpty() || number || (valued && name == a->text(A::Value).trimmed())))
                unnamed.push_back(std::to_string(role) + " '" + name.toStdString() + "'");
        for (int i = 0; i < a->childCount(); ++i)
            if (QAccessibleInterface *c = a->child(i)) walk(c);
    };
    walk(QAccessible::queryAccessibleInterface(form.widget()));
    return unnamed;
}

// While alive, every MsgBox is recorded and answered (`answer`, OK unless set) instead of being shown.
class BoxRecorder {
public:
    int answer = platform::ui::vbOK;
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;
    std::vector<platform::ui::MsgBoxRecord> &boxes() { return boxes_; }

private:
    std::vector<platform::ui::MsgBoxRecord> boxes_;
};

}  // namespace qvtest
