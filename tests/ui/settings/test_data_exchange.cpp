#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "DialogTestSupport.h"
#include "platform/ui/DdxDataExchange.h"

using dialogtest::MessageBoxes;
using torvane::ui::CDataExchange;

TEST(DataExchange, IntegersAreParsedAndRangeCheckedWithTheFrameworkPrompts) {
    MessageBoxes boxes;
    QWidget dialog;
    auto* a = new QLineEdit(&dialog);
    auto* b = new QLineEdit(&dialog);
    int va = 0, vb = 7;

    a->setText(" 12 ");
    b->setText("x");
    {
        CDataExchange dx(&dialog, true);
        dx.text(a, va);
        dx.minMaxInt(va, 3, 30);
        dx.text(b, vb);   // not an integer
        EXPECT_TRUE(dx.failed());
    }
    EXPECT_EQ(va, 12);
    EXPECT_EQ(vb, 7);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Please enter an integer.");

    a->setText("31");
    b->setText("5");
    {
        CDataExchange dx(&dialog, true);
        dx.text(a, va);
        dx.minMaxInt(va, 3, 30);
        dx.text(b, vb);   // skipped after the failure
        EXPECT_TRUE(dx.failed());
    }
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, "Please enter an integer between 3 and 30.");
    EXPECT_EQ(vb, 7);

    // Showing never validates.
    va = 99;
    CDataExchange show(&dialog, false);
    show.text(a, va);
    show.minMaxInt(va, 3, 30);
    EXPECT_FALSE(show.failed());
    EXPECT_EQ(a->text(), "99");
    EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST(DataExchange, ListsChecksAndRadioGroups) {
    QWidget dialog;
    auto* list = new QComboBox(&dialog);
    list->addItems({"a", "b", "c"});
    auto* box = new QCheckBox(&dialog);
    QList<QAbstractButton*> group{new QRadioButton(&dialog), new QRadioButton(&dialog), new QRadioButton(&dialog)};

    int index = 2, on = 1, radio = 1;
    CDataExchange show(&dialog, false);
    show.cbIndex(list, index);
    show.check(box, on);
    show.radio(group, radio);
    EXPECT_EQ(list->currentText(), "c");
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(group[1]->isChecked());

    // An index outside the list selects nothing, and reading then keeps the field.
    index = 5;
    radio = 0;
    CDataExchange again(&dialog, false);
    again.cbIndex(list, index);
    again.radio(group, radio);
    EXPECT_EQ(list->currentIndex(), -1);
    EXPECT_TRUE(group[0]->isChecked());
    EXPECT_FALSE(group[1]->isChecked());
    CDataExchange read(&dialog, true);
    read.cbIndex(list, index);
    read.radio(group, radio);
    EXPECT_EQ(index, 5);
    EXPECT_EQ(radio, 0);
}
