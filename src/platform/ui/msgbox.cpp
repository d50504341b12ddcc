// MsgBox: the one message box of the utility, and the responder seam for tests.
#include <QAbstractButton>
#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QPointer>
#include <QTimer>

#include "platform/ui/ui_private.h"

namespace platform::ui {

namespace {
std::function<int(const MsgBoxRecord &)> g_responder;

QMessageBox::Icon IconOf(int style) {
    switch (style & 0x70) {
    case vbCritical: return QMessageBox::Critical;
    case vbQuestion: return QMessageBox::Question;
    case vbExclamation: return QMessageBox::Warning;
    case vbInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}
}  // namespace

void SetMsgBoxResponderForTests(std::function<int(const MsgBoxRecord &)> responder) {
    g_responder = std::move(responder);
}

int MsgBox(const std::string &prompt, int style, const std::string &title) {
    const MsgBoxRecord record{prompt, style, title.empty() ? std::string(kAppTitle) : title};
    if (g_responder) return g_responder(record);
    if (Ending() || !qApp) return 0;  // after End nothing more is shown
    EnsureUiSetup();
    QWidget *form = ActiveFormWindow();
    QPointer<QWidget> target = QApplication::focusWidget();  // maybe a button being clicked
    int answer = vbOK;
    {
        const bool yesNo = (style & 0x0F) == vbYesNo;
        QMessageBox box(IconOf(style), Q(record.title), Q(prompt),
                        yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, form);
        if (yesNo) {
            box.setDefaultButton((style & vbDefaultButton2) ? QMessageBox::No : QMessageBox::Yes);
            box.setEscapeButton(QMessageBox::No);
        }
        // A short prompt makes a box narrower than its title, which the window manager then cuts
        // short: the box is kept as wide as the title and the frame's buttons need.
        if (auto *grid = qobject_cast<QGridLayout *>(box.layout())) {
            const int width = box.fontMetrics().horizontalAdvance(box.windowTitle()) * 5 / 4 + 120;
            grid->addItem(new QSpacerItem(width, 0), grid->rowCount(), 0, 1, grid->columnCount());
        }
        const bool busy = Busy();  // no wait cursor over a box that waits for the user
        if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
        box.exec();
        if (busy) QApplication::restoreOverrideCursor();
        if (yesNo) answer = box.clickedButton() == box.button(QMessageBox::Yes) ? vbYes : vbNo;
    }
    if (Ending()) return 0;
    // Closing a box does not re-activate its form without a window manager.
    if (form && form->isVisible()) form->activateWindow();
    // The box ate the release of a mouse click that opened it; do not leave that button drawn pressed.
    QTimer::singleShot(0, qApp, [target] {
        auto *b = qobject_cast<QAbstractButton *>(target.data());
        if (b && b->isDown() && !(QApplication::mouseButtons() & Qt::LeftButton)) b->setDown(false);
    });
    return answer;
}

}  // namespace platform::ui
