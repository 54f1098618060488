#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QTemporaryDir>

#include "DialogTestSupport.h"
#include "settings/CWatermarkSettingDlg.h"

using namespace dialogtest;
using torvane::CWatermarkSettingDlg;
using torvane::WatermarkSettings;

namespace {
using D = CWatermarkSettingDlg;
const int kOnRuleControls[] = {D::IDC_WATERMARK_FILE,   D::IDC_WATERMARK_BROWSE,   D::IDC_WATERMARK_POSITION,
                               D::IDC_WATERMARK_WIDTH,  D::IDC_WATERMARK_HEIGHT,   D::IDC_WATERMARK_OPACITY,
                               D::IDC_WATERMARK_MARGIN_X, D::IDC_WATERMARK_MARGIN_Y};
}  // namespace

TEST(WatermarkDialog, FirstUseIsOffAtZeroPercentWithTheEightControlsDisabled) {
    const WatermarkSettings defaults;
    D dlg(&defaults, nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Watermark setting");
    EXPECT_EQ(torvane::findControl(&dlg, torvane::IDCANCEL), nullptr);   // OK only
    EXPECT_FALSE(checked(&dlg, D::IDC_INSERT_WATERMARK));
    EXPECT_EQ(comboText(&dlg, D::IDC_WATERMARK_OPACITY), "0%");
    auto* positions = control<QComboBox>(&dlg, D::IDC_WATERMARK_POSITION);
    ASSERT_EQ(positions->count(), 9);
    EXPECT_EQ(positions->itemText(0), "TopLeft");
    EXPECT_EQ(positions->itemText(4), "BottomRight");
    EXPECT_EQ(positions->itemText(8), "MiddleCenter");
    for (int id : kOnRuleControls) EXPECT_FALSE(enabled(&dlg, id)) << id;
    click(&dlg, D::IDC_INSERT_WATERMARK);
    for (int id : kOnRuleControls) EXPECT_TRUE(enabled(&dlg, id)) << id;
}

TEST(WatermarkDialog, ChoosingAnImageTakesItsSizeAndSeventyPercent) {
    QTemporaryDir dir;
    const QString image = dir.filePath("logo.png");
    ASSERT_TRUE(QImage(300, 100, QImage::Format_ARGB32).save(image));
    const QString broken = dir.filePath("broken.gif");
    QFile f(broken);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("GIF89a but not really");
    f.close();

    const WatermarkSettings defaults;
    D dlg(&defaults, nullptr);
    click(&dlg, D::IDC_INSERT_WATERMARK);
    setText(&dlg, D::IDC_WATERMARK_WIDTH, "55");
    setText(&dlg, D::IDC_WATERMARK_HEIGHT, "66");
    QString answer = image;
    dlg.chooseImageFile = [&](QWidget*) { return answer; };
    click(&dlg, D::IDC_WATERMARK_BROWSE);
    EXPECT_EQ(text(&dlg, D::IDC_WATERMARK_FILE), image);
    EXPECT_EQ(text(&dlg, D::IDC_WATERMARK_WIDTH), "300");
    EXPECT_EQ(text(&dlg, D::IDC_WATERMARK_HEIGHT), "100");
    EXPECT_EQ(comboText(&dlg, D::IDC_WATERMARK_OPACITY), "70%");

    // Cancelling the file dialog changes nothing.
    answer.clear();
    click(&dlg, D::IDC_WATERMARK_BROWSE);
    EXPECT_EQ(text(&dlg, D::IDC_WATERMARK_FILE), image);

    // Not an image: still taken, size 0 x 0, no message.
    MessageBoxes boxes;
    answer = broken;
    click(&dlg, D::IDC_WATERMARK_BROWSE);
    EXPECT_EQ(text(&dlg, D::IDC_WATERMARK_FILE), broken);
    EXPECT_EQ(text(&dlg, D::IDC_WATERMARK_WIDTH), "0");
    EXPECT_EQ(text(&dlg, D::IDC_WATERMARK_HEIGHT), "0");
    EXPECT_TRUE(boxes.shown.empty());

    answer = image;
    click(&dlg, D::IDC_WATERMARK_BROWSE);
    choose(&dlg, D::IDC_WATERMARK_POSITION, 4);
    setText(&dlg, D::IDC_WATERMARK_MARGIN_X, "10");
    setText(&dlg, D::IDC_WATERMARK_MARGIN_Y, "12");
    click(&dlg, torvane::IDOK);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    WatermarkSettings out;
    out.imagePath[259] = u'x';   // the whole path area is rewritten
    dlg.writeTo(out);
    EXPECT_EQ(out.on, 1);
    EXPECT_EQ(QString::fromStdString(torvane::fromUtf16Field(out.imagePath, 260)), image);
    EXPECT_EQ(out.imagePath[259], u'\0');
    EXPECT_EQ(out.width, 300);
    EXPECT_EQ(out.height, 100);
    EXPECT_EQ(out.position, 4);
    EXPECT_EQ(out.opacity, 70);
    EXPECT_EQ(out.marginX, 10);
    EXPECT_EQ(out.marginY, 12);
}

TEST(WatermarkDialog, OkNeedsAFileOnlyWhileOn) {
    MessageBoxes boxes;
    const WatermarkSettings defaults;
    D dlg(&defaults, nullptr);
    dlg.show();
    click(&dlg, D::IDC_INSERT_WATERMARK);
    click(&dlg, torvane::IDOK);
    EXPECT_TRUE(dlg.isVisible());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Please set the watermark file name.");
    EXPECT_EQ(boxes.shown[0].type & 0xF0, torvane::ui::MB_ICONERROR);
    click(&dlg, D::IDC_INSERT_WATERMARK);
    click(&dlg, torvane::IDOK);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.watermarkOn(), 0);
}

TEST(WatermarkDialog, SizesAndMarginsUpToTwoThousand) {
    WatermarkSettings s;
    s.on = 1;
    torvane::toUtf16Field("/tmp/any.png", s.imagePath, 260);
    for (int id : {D::IDC_WATERMARK_WIDTH, D::IDC_WATERMARK_HEIGHT, D::IDC_WATERMARK_MARGIN_X, D::IDC_WATERMARK_MARGIN_Y}) {
        MessageBoxes boxes;
        D dlg(&s, nullptr);
        dlg.show();
        setText(&dlg, id, "2001");
        click(&dlg, torvane::IDOK);
        EXPECT_TRUE(dlg.isVisible()) << id;
        ASSERT_EQ(boxes.shown.size(), 1u) << id;
        EXPECT_EQ(boxes.shown[0].text, "Please enter an integer between 0 and 2000.");
    }
    MessageBoxes boxes;
    D dlg(&s, nullptr);
    setText(&dlg, D::IDC_WATERMARK_WIDTH, "2000");
    setText(&dlg, D::IDC_WATERMARK_MARGIN_X, "0");
    click(&dlg, torvane::IDOK);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.width(), 2000);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(WatermarkDialog, EscapeLeavesTheSettingsAlone) {
    WatermarkSettings s;
    s.opacity = 30;
    D dlg(&s, nullptr);
    dlg.show();
    click(&dlg, D::IDC_INSERT_WATERMARK);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &esc);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST(WatermarkDialog, APathTooLongForTheRecordIsRefused) {
    MessageBoxes boxes;
    const WatermarkSettings defaults;
    D dlg(&defaults, nullptr);
    click(&dlg, D::IDC_INSERT_WATERMARK);
    const QString longPath = "/" + QString(300, 'a') + ".png";
    dlg.chooseImageFile = [&](QWidget*) { return longPath; };
    click(&dlg, D::IDC_WATERMARK_BROWSE);
    click(&dlg, torvane::IDOK);
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "The watermark file name is too long.");
}
