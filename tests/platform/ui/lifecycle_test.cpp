// Form life: Load before the first show, Unload once on any close, End, RunApplication.
#include <QMessageBox>
#include <QTimer>

#include "platform/error.h"
#include "support/modal.h"
#include "test_form.h"

using namespace uitest;

namespace {

class LifecycleTest : public UiTest {};

TEST_F(LifecycleTest, LoadRunsOnceBeforeTheFirstShow) {
    TestForm f;
    bool visibleAtLoad = true;
    f.onLoad = [&] { visibleAtLoad = f.IsVisible(); };
    EXPECT_FALSE(f.IsLoaded());
    f.ShowActive();
    f.Show();
    EXPECT_EQ(f.loads, 1);
    EXPECT_FALSE(visibleAtLoad);
    EXPECT_TRUE(f.IsLoaded());
}

TEST_F(LifecycleTest, UnloadRunsOnceWhateverClosesTheForm) {
    {
        TestForm f;
        f.ShowActive();
        f.Unload();
        f.Unload();
        EXPECT_EQ(f.unloads, 1);
        EXPECT_FALSE(f.IsVisible());
        EXPECT_FALSE(f.IsLoaded());
    }
    {
        TestForm f;  // the window's close box
        f.ShowActive();
        f.widget()->close();
        QCoreApplication::processEvents();
        EXPECT_EQ(f.unloads, 1);
        EXPECT_FALSE(f.IsVisible());
    }
    {
        TestForm f;  // a handler that unloads the form from inside a click
        f.ShowActive();
        f.cmdExit->Press();
        EXPECT_EQ(f.unloads, 1);
        EXPECT_FALSE(f.IsVisible());
    }
}

TEST_F(LifecycleTest, ShowModalReturnsWhenAHandlerUnloadsTheForm) {
    TestForm f;
    QTimer::singleShot(0, [&] { f.cmdExit->Press(); });
    f.ShowModal();
    EXPECT_EQ(f.loads, 1);
    EXPECT_EQ(f.unloads, 1);
    EXPECT_FALSE(f.IsVisible());
}

TEST_F(LifecycleTest, FormUnloadedDuringLoadIsNeverShown) {
    TestForm f;
    f.onLoad = [&] { f.Unload(); };
    f.ShowModal();  // would block if it showed
    EXPECT_EQ(f.unloads, 1);
    EXPECT_FALSE(f.IsVisible());
}

TEST_F(LifecycleTest, EndClosesModalFormsWithoutUnloadAndStopsHandlers) {
    TestForm f;
    f.onOk = [] { End(3); };
    QTimer::singleShot(0, [&] { f.cmdOk->Press(); });
    f.ShowModal();
    EXPECT_TRUE(Ending());
    EXPECT_EQ(EndStatus(), 3);
    EXPECT_EQ(f.unloads, 0);
    EXPECT_FALSE(f.IsVisible());
    f.cmdOk->Press();  // while ending, no handler runs
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "cmdOk:click"), 1);
    EXPECT_EQ(MsgBox("late"), 0);
}

TEST_F(LifecycleTest, RunApplicationEndsWithStatusOfTheUtility) {
    char prog[] = "qvutil", a1[] = "frd", a2[] = "x";
    char *argv[] = {prog, a1, a2, nullptr};
    std::string command;
    int unloads = -1;
    const int rc = RunApplication(3, argv, [&] {
        command = Command();
        TestForm f;
        QTimer::singleShot(0, [&] { f.cmdExit->Press(); });
        f.ShowModal();
        unloads = f.unloads;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(command, "frd x");
    EXPECT_EQ(unloads, 1);

    qvtest::BoxRecorder boxes;
    ResetEndingForTests();
    EXPECT_EQ(RunApplication(1, argv, [] { platform::Raise(3031); }), 1);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].prompt, "Run-time error '3031':\n\nNot a valid password.");
    EXPECT_EQ(Command(), "");

    ResetEndingForTests();
    EXPECT_EQ(RunApplication(1, argv, [] { End(4); }), 4);
}

}  // namespace
