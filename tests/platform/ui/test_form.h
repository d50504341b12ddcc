#pragma once
// A small form built from the real controls, logging its events, for the ui tests.
#include <QApplication>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/ui/app.h"
#include "platform/ui/forms.h"

namespace uitest {

using namespace platform::ui;

class TestForm : public Form {
public:
    TestForm() : Form("frmTest", "Test Form", 6000, 3000) {
        // created out of tab order on purpose: focus order must follow the tab indexes
        cmdExit = &AddButton("cmdExit", -1, {4500, 2400, 1000, 400}, "E&xit", 4);
        txt[1] = &AddTextBox("txt", 1, {1500, 900, 1500, 285}, 2);
        txt[0] = &AddTextBox("txt", 0, {1500, 500, 1500, 285}, 1);
        cbo = &AddComboBox("cbo", {1500, 100, 1935, 315}, 0);
        cmdOk = &AddButton("cmdOk", -1, {3300, 2400, 1000, 400}, "&Continue", 3);
        lbl = &AddLabel("lbl", 0, {120, 500, 1300, 255}, "Bill date:", 5);
        pb = &AddProgressBar("pb", {120, 1800, 5700, 375}, 6);
        AddLine("Line1", 120, 1600, 5800, 1600);
        for (int i = 0; i < 2; ++i) {
            txt[i]->onGotFocus = [this, i] { log.push_back("txt" + std::to_string(i) + ":got"); };
            txt[i]->onLostFocus = [this, i] {
                log.push_back("txt" + std::to_string(i) + ":lost");
                if (onTxtLost) onTxtLost(i);
            };
            txt[i]->onKeyPress = [this, i](int &key) {
                if (onTxtKey) onTxtKey(i, key);
            };
        }
        cbo->onGotFocus = [this] { log.push_back("cbo:got"); };
        cbo->onLostFocus = [this] { log.push_back("cbo:lost"); };
        cmdOk->onGotFocus = [this] { log.push_back("cmdOk:got"); };
        cmdOk->onClick = [this] {
            log.push_back("cmdOk:click");
            if (onOk) onOk();
        };
        cmdExit->onClick = [this] {
            log.push_back("cmdExit:click");
            Unload();
        };
    }

    int loads = 0, unloads = 0;
    std::vector<std::string> log;
    std::function<void(int, int &)> onTxtKey;
    std::function<void(int)> onTxtLost;
    std::function<void()> onOk, onLoad;

    TextBox *txt[2]{};
    ComboBox *cbo{};
    CommandButton *cmdOk{}, *cmdExit{};
    Label *lbl{};
    ProgressBar *pb{};

    void ShowActive();
    bool has(const std::string &entry) const {
        return std::find(log.begin(), log.end(), entry) != log.end();
    }

protected:
    void Form_Load() override {
        ++loads;
        if (onLoad) onLoad();
    }
    void Form_Unload() override { ++unloads; }
};

// Shows the form and waits until it is active with its first control focused.
inline void ShowActive(Form &f) {
    f.Show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(f.widget()));
    QCoreApplication::processEvents();
}
inline void TestForm::ShowActive() { uitest::ShowActive(*this); }

// Presses a key as the keyboard would: at the focused widget.
inline void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget *w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr) << "no widget has the focus";
    QTest::keyClick(w, key, mods);
    QCoreApplication::processEvents();
}

inline void Type(const char *text) {
    QWidget *w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr);
    QTest::keyClicks(w, text);
}

// Each ui test starts with the utility not ending and no box responder.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEndingForTests(); }
    void TearDown() override {
        ResetEndingForTests();
        SetMsgBoxResponderForTests({});
    }
};

}  // namespace uitest
