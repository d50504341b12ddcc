// Control properties: progress bar while busy, text selection, combo list, captions that clip.
#include <QComboBox>
#include <QImage>
#include <QScreen>
#include <QLineEdit>
#include <QProgressBar>

#include "test_form.h"

using namespace uitest;

namespace {

class ControlsTest : public UiTest {};

// The share of the bar's inner row that is on screen in the highlight colour (read back from the
// window system, not painted afresh).
double FilledShare(QWidget *bar) {
    const QPoint at = bar->mapTo(bar->window(), QPoint(0, 0));
    const QImage img = bar->screen()->grabWindow(bar->window()->winId(), at.x(), at.y(), bar->width(), bar->height()).toImage();
    const QColor hl = bar->palette().color(QPalette::Highlight);
    const int y = img.height() / 2;
    int filled = 0, inner = 0;
    for (int x = 3; x < img.width() - 3; ++x) {
        ++inner;
        const QColor c = img.pixelColor(x, y);
        if (std::abs(c.hue() - hl.hue()) < 20 && c.saturation() > 60) ++filled;
    }
    return static_cast<double>(filled) / inner;
}

TEST_F(ControlsTest, ProgressBarShowsItsValueWhileTheHandlerKeepsTheThread) {
    TestForm f;
    f.ShowActive();
    double shownAtHalf = -1, shownAtEnd = -1;
    f.onOk = [&] {  // a busy handler that never returns to the event loop until done
        BusyScope busy;
        f.pb->SetMax(2000);
        for (int i = 0; i <= 2000; ++i) {
            f.pb->SetValue(i);
            if (i == 1000) shownAtHalf = FilledShare(f.pb->widget());
        }
        shownAtEnd = FilledShare(f.pb->widget());
    };
    f.cmdOk->Press();
    EXPECT_NEAR(shownAtHalf, 0.5, 0.015);
    EXPECT_NEAR(shownAtEnd, 1.0, 0.05);
}

TEST_F(ControlsTest, ProgressBarOnALargeRangeScalesAndClamps) {
    TestForm f;
    f.pb->SetMax(2'000'000);
    f.pb->SetValue(500'000);
    auto *bar = static_cast<QProgressBar *>(f.pb->widget());
    EXPECT_EQ(f.pb->Value(), 500'000);
    EXPECT_NEAR(double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum()), 0.25, 0.001);
    f.pb->SetValue(3'000'000);
    EXPECT_EQ(bar->value(), bar->maximum());
    f.pb->SetMin(10);
    f.pb->SetMax(20);
    f.pb->SetValue(15);
    EXPECT_EQ(bar->value(), 15);
    EXPECT_EQ(f.pb->Min(), 10);
}

TEST_F(ControlsTest, TextBoxSelectionAsGotFocusHandlersUseIt) {
    TestForm f;
    f.txt[0]->SetText("05/01/2017");
    f.txt[0]->onGotFocus = [&] {
        f.txt[0]->SetSelStart(0);
        f.txt[0]->SetSelLength(static_cast<int>(f.txt[0]->Text().size()));
    };
    f.ShowActive();
    f.txt[0]->SetFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(f.txt[0]->SelStart(), 0);
    EXPECT_EQ(f.txt[0]->SelLength(), 10);
    Type("6");  // typing replaces the selected entry
    EXPECT_EQ(f.txt[0]->Text(), "6");

    f.txt[0]->SetText("abcdef");
    f.txt[0]->SetSelStart(2);
    f.txt[0]->SetSelLength(99);
    EXPECT_EQ(f.txt[0]->SelStart(), 2);
    EXPECT_EQ(f.txt[0]->SelLength(), 4);
}

TEST_F(ControlsTest, ComboAddItemKeepsTheTextAndEnterInsertsNothing) {
    TestForm f;
    int changes = 0;
    f.cbo->onChange = [&] { ++changes; };
    f.cbo->AddItem(" ALL CODES");
    f.cbo->AddItem("E");
    f.cbo->AddItem("W");
    EXPECT_EQ(f.cbo->Text(), "");
    EXPECT_EQ(changes, 0);
    f.cbo->SetText(" ALL CODES");
    EXPECT_EQ(f.cbo->Text(), " ALL CODES");
    EXPECT_EQ(changes, 1);

    f.ShowActive();
    f.cbo->SetFocus();
    static_cast<QComboBox *>(f.cbo->widget())->lineEdit()->selectAll();
    Type("ZZ");
    Key(Qt::Key_Return);
    EXPECT_EQ(f.cbo->ListCount(), 3);
    EXPECT_EQ(f.cbo->Text(), "ZZ");
    EXPECT_EQ(f.cbo->List(2), "W");
}

TEST_F(ControlsTest, ClippedCaptionsReportsOnlyWhatDoesNotFit) {
    class Captions : public Form {
    public:
        Captions() : Form("frmCaptions", "Captions", 6000, 2000) {
            AddLabel("lblWide", -1, {120, 120, 5000, 255}, "Records processed: 0 of 12,345", 0);
            AddLabel("lbl", 3, {120, 500, 900, 255}, "Records processed: 0 of 12,345", 1);
            AddLabel("lblWrap", -1, {120, 900, 3200, 495}, "Update only meter reading records with this code:", 2);
            AddButton("cmdExit", -1, {120, 1400, 1000, 400}, "E&xit", 3);
            AddButton("cmdNarrow", -1, {2000, 1400, 600, 400}, "&Continue", 4);
        }
    } form;
    EXPECT_EQ(ClippedCaptions(form),
              (std::vector<std::string>{"lbl(3): Records processed: 0 of 12,345", "cmdNarrow: &Continue"}));
}

TEST_F(ControlsTest, FontIsThePinnedSubstituteAtDesignedSize) {
    TestForm f;
    const QFontInfo info(f.txt[0]->widget()->font());
    EXPECT_EQ(info.family(), "Liberation Sans");
    EXPECT_TRUE(info.bold());
    EXPECT_EQ(info.pixelSize(), 11);
}

TEST_F(ControlsTest, GeometryIsTwipsAtFifteenAPixel) {
    TestForm f;
    EXPECT_EQ(f.widget()->size(), QSize(400, 200));
    EXPECT_EQ(f.cbo->widget()->geometry(), QRect(100, 7, 129, 21));
    EXPECT_EQ(f.txt[0]->Geometry().width, 1500);
}

}  // namespace
