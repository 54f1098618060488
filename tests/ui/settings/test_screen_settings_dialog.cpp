#include <QCheckBox>
#include <QKeyEvent>
#include <QToolButton>

#include "DialogTestSupport.h"
#include "settings/CCursorSettingDlg.h"
#include "settings/CScreenCapSettingDlg.h"
#include "settings/DlgUpDownCtrl.h"

using namespace dialogtest;
using torvane::CScreenCapSettingDlg;
using torvane::CursorSettings;
using torvane::ScreenSettings;

namespace {
using D = CScreenCapSettingDlg;
}

TEST(ScreenSettingsDialog, ListsAndStoredChoices) {
    ScreenSettings s;
    s.sizeChoice = 6;
    s.quality = 2;
    s.frameRate = 12;
    s.includeTaskbar = 0;
    CursorSettings c;
    D dlg(&s, c, nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Screen Capture Settings");
    auto* sizes = control<QComboBox>(&dlg, D::IDC_CAPTURE_SIZE);
    ASSERT_EQ(sizes->count(), 7);
    EXPECT_EQ(sizes->itemText(0), "Keep Original Size");
    EXPECT_EQ(sizes->itemText(3), "Proportional 1/3");
    EXPECT_EQ(sizes->itemText(4), "Fixed - 800x600");
    EXPECT_EQ(comboText(&dlg, D::IDC_CAPTURE_SIZE), "Fixed - 320x240");
    EXPECT_EQ(comboText(&dlg, D::IDC_QUALITY), "Highest");
    EXPECT_EQ(text(&dlg, D::IDC_FRAME_RATE), "12");
    EXPECT_FALSE(checked(&dlg, D::IDC_INCLUDE_TASKBAR));
    EXPECT_TRUE(checked(&dlg, D::IDC_CAPTURE_CURSOR));
    EXPECT_TRUE(enabled(&dlg, D::IDC_CURSOR));

    choose(&dlg, D::IDC_CAPTURE_SIZE, 2);
    choose(&dlg, D::IDC_QUALITY, 1);
    click(&dlg, D::IDC_INCLUDE_TASKBAR);
    click(&dlg, torvane::IDOK);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    ScreenSettings out;
    dlg.writeTo(out);
    EXPECT_EQ(out.sizeChoice, 2);
    EXPECT_EQ(out.quality, 1);
    EXPECT_EQ(out.frameRate, 12);
    EXPECT_EQ(out.includeTaskbar, 1);

    D fresh(nullptr, c, nullptr);   // without screen settings: the record's defaults
    EXPECT_EQ(text(&fresh, D::IDC_FRAME_RATE), "8");
    EXPECT_TRUE(checked(&fresh, D::IDC_INCLUDE_TASKBAR));
    EXPECT_EQ(comboText(&fresh, D::IDC_CAPTURE_SIZE), "Keep Original Size");
}

TEST(ScreenSettingsDialog, FrameRateChangesOnlyByTheArrowsWithinThreeToThirty) {
    ScreenSettings s;
    s.frameRate = 29;
    D dlg(&s, CursorSettings{}, nullptr);
    auto* edit = control<QLineEdit>(&dlg, D::IDC_FRAME_RATE);
    EXPECT_TRUE(edit->isReadOnly());
    auto* spin = control<torvane::CUpDownCtrl>(&dlg, D::IDC_FRAME_RATE_SPIN);
    spin->upButton()->click();
    spin->upButton()->click();
    EXPECT_EQ(edit->text(), "30");
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &down);
    EXPECT_EQ(edit->text(), "29");
    for (int i = 0; i < 40; ++i) spin->downButton()->click();
    EXPECT_EQ(edit->text(), "3");
    click(&dlg, torvane::IDOK);
    EXPECT_EQ(dlg.frameRate(), 3);

    // A stored rate outside the range opens at the nearer bound rather than refusing the dialog.
    s.frameRate = 0;
    D low(&s, CursorSettings{}, nullptr);
    EXPECT_EQ(text(&low, D::IDC_FRAME_RATE), "3");
}

TEST(ScreenSettingsDialog, CursorCaptureOffKeepsTheHighlight) {
    CursorSettings c;
    c.highlightType = 2;
    c.highlightSize = 20;
    D dlg(nullptr, c, nullptr);
    click(&dlg, D::IDC_CAPTURE_CURSOR);
    EXPECT_FALSE(enabled(&dlg, D::IDC_CURSOR));
    click(&dlg, torvane::IDOK);
    EXPECT_EQ(dlg.cursorSettings().captureCursor, 0);
    EXPECT_EQ(dlg.cursorSettings().highlightType, 2);
    EXPECT_EQ(dlg.cursorSettings().highlightSize, 20);
    click(&dlg, D::IDC_CAPTURE_CURSOR);
    EXPECT_TRUE(enabled(&dlg, D::IDC_CURSOR));
}

TEST(ScreenSettingsDialog, CursorDialogResultIsCopiedOnlyOnItsOk) {
    D dlg(nullptr, CursorSettings{}, nullptr);
    // OK in the cursor dialog after choosing "Ellipse" at 40 %, size 12.
    whenModal([](QDialog* cursor) {
        choose(cursor, torvane::CCursorSettingDlg::IDC_CURSOR_TYPE, 2);
        choose(cursor, torvane::CCursorSettingDlg::IDC_CURSOR_OPACITY, 4);
        setText(cursor, torvane::CCursorSettingDlg::IDC_CURSOR_SIZE, "12");
        click(cursor, torvane::IDOK);
    });
    click(&dlg, D::IDC_CURSOR);
    EXPECT_EQ(dlg.cursorSettings().highlightType, 2);
    EXPECT_EQ(dlg.cursorSettings().highlightOpacity, 40);
    EXPECT_EQ(dlg.cursorSettings().highlightSize, 12);
    // Cancel there changes nothing.
    whenModal([](QDialog* cursor) {
        choose(cursor, torvane::CCursorSettingDlg::IDC_CURSOR_TYPE, 1);
        click(cursor, torvane::IDCANCEL);
    });
    click(&dlg, D::IDC_CURSOR);
    EXPECT_EQ(dlg.cursorSettings().highlightType, 2);
}
