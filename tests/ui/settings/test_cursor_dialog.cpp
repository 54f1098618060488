#include "DialogTestSupport.h"
#include "settings/CCursorSettingDlg.h"
#include "settings/DlgColorButton.h"

using namespace dialogtest;
using torvane::CCursorSettingDlg;
using torvane::CursorSettings;

namespace {
constexpr int kType = CCursorSettingDlg::IDC_CURSOR_TYPE, kColor = CCursorSettingDlg::IDC_CURSOR_COLOR,
              kSize = CCursorSettingDlg::IDC_CURSOR_SIZE, kOpacity = CCursorSettingDlg::IDC_CURSOR_OPACITY;
}

TEST(CursorDialog, DefaultsShowAsPointerRedTenPixelsSeventyPercent) {
    const CursorSettings defaults;
    CCursorSettingDlg dlg(&defaults, nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Cursor capture setting");
    auto* type = control<QComboBox>(&dlg, kType);
    ASSERT_EQ(type->count(), 3);
    EXPECT_EQ(type->itemText(0), "Pointer");
    EXPECT_EQ(type->itemText(1), "Rectangle");
    EXPECT_EQ(type->itemText(2), "Ellipse");
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(type->itemIcon(i).isNull());
    EXPECT_EQ(comboText(&dlg, kType), "Pointer");
    EXPECT_EQ(control<torvane::CColorButton>(&dlg, kColor)->color(), QColor(255, 0, 0));
    EXPECT_EQ(text(&dlg, kSize), "10");
    EXPECT_EQ(comboText(&dlg, kOpacity), "70%");
    EXPECT_EQ(control<QComboBox>(&dlg, kOpacity)->count(), 11);
    // "Pointer" has no highlight, so its settings are disabled.
    EXPECT_FALSE(enabled(&dlg, kColor));
    EXPECT_FALSE(enabled(&dlg, kSize));
    EXPECT_FALSE(enabled(&dlg, kOpacity));

    click(&dlg, torvane::IDOK);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    CursorSettings out;
    out.highlightType = 2;
    out.highlightColor = 0;
    dlg.writeTo(out);
    EXPECT_EQ(out.highlightType, 0);
    EXPECT_EQ(out.highlightColor, 0x000000FFu);
    EXPECT_EQ(out.highlightOpacity, 70);
    EXPECT_EQ(out.highlightSize, 10);
}

TEST(CursorDialog, TypeRuleAndStoredValues) {
    CursorSettings s;
    s.highlightType = 1;
    s.highlightColor = 0x00123456;
    s.highlightOpacity = 75;   // shows as "70%", stored back as 70
    s.highlightSize = 33;
    CCursorSettingDlg dlg(&s, nullptr);
    EXPECT_EQ(comboText(&dlg, kType), "Rectangle");
    EXPECT_EQ(comboText(&dlg, kOpacity), "70%");
    EXPECT_TRUE(enabled(&dlg, kColor) && enabled(&dlg, kSize) && enabled(&dlg, kOpacity));

    // Pointer disables but keeps the values.
    choose(&dlg, kType, 0);
    EXPECT_FALSE(enabled(&dlg, kColor) || enabled(&dlg, kSize) || enabled(&dlg, kOpacity));
    choose(&dlg, kType, 2);
    EXPECT_TRUE(enabled(&dlg, kSize));
    control<torvane::CColorButton>(&dlg, kColor)->setColor(QColor(0x10, 0x20, 0x30));
    choose(&dlg, kOpacity, 3);
    click(&dlg, torvane::IDOK);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    CursorSettings out;
    dlg.writeTo(out);
    EXPECT_EQ(out.highlightType, 2);
    EXPECT_EQ(out.highlightColor, 0x00302010u);
    EXPECT_EQ(out.highlightOpacity, 30);
    EXPECT_EQ(out.highlightSize, 33);

    CCursorSettingDlg same(&s, nullptr);
    click(&same, torvane::IDOK);
    same.writeTo(out);
    EXPECT_EQ(out.highlightOpacity, 70);
    EXPECT_EQ(out.highlightColor, 0x00123456u);
}

TEST(CursorDialog, SizeOutsideTwoToFiftyIsRefusedEvenWhileDisabled) {
    for (const char* bad : {"1", "51", ""}) {
        MessageBoxes boxes;
        const CursorSettings defaults;   // "Pointer": the size box is disabled
        CCursorSettingDlg dlg(&defaults, nullptr);
        dlg.show();
        setText(&dlg, kSize, bad);
        click(&dlg, torvane::IDOK);
        EXPECT_TRUE(dlg.isVisible()) << bad;
        EXPECT_NE(dlg.result(), QDialog::Accepted) << bad;
        ASSERT_EQ(boxes.shown.size(), 1u) << bad;
        EXPECT_EQ(boxes.shown[0].text, *bad ? "Please enter an integer between 2 and 50." : "Please enter an integer.");
    }
    for (const char* good : {"2", "50"}) {
        MessageBoxes boxes;
        const CursorSettings defaults;
        CCursorSettingDlg dlg(&defaults, nullptr);
        dlg.show();
        setText(&dlg, kSize, good);
        click(&dlg, torvane::IDOK);
        EXPECT_EQ(dlg.result(), QDialog::Accepted) << good;
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_EQ(dlg.highlightSize(), QString(good).toInt());
    }
}
