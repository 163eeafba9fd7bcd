// The controls the user picks from, presses or only looks at, against the real resource:
// buttons, drop-downs, switches and slides, and how dimming and text colours show.
#include <QAbstractItemView>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QTest>

#include <cmath>

#include "panel_ids.h"
#include "qt/control_widgets.h"
#include "view_fixture.h"

using namespace vek::ui;
using namespace vek::ui::qt;
using namespace vek::ui::testing;

namespace {

using Calls = std::vector<Call>;

// WCAG contrast ratio of two colours (1 = none, 21 = black on white).
double contrast(const QColor& a, const QColor& b)
{
    auto lum = [](const QColor& c) {
        auto ch = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * ch(c.redF()) + 0.7152 * ch(c.greenF()) + 0.0722 * ch(c.blueF());
    };
    const double la = lum(a), lb = lum(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

// --- buttons, drop-downs, switches and slides ---

TEST_F(ViewTest, WidgetsCarryTheResourcesRangesDefaultsAndTexts)
{
    const int main = open(PANEL), user = open(PANEL_4);
    auto* slave = widget<QLineEdit>(main, "SLAVE_ADDRESS");
    ASSERT_NE(slave, nullptr);
    EXPECT_FALSE(slave->isReadOnly());
    EXPECT_EQ(slave->validator(), nullptr) << "no validator drops what the user types";
    EXPECT_EQ(slave->text(), "1");
    EXPECT_TRUE(widget<QLineEdit>(main, "UID")->isReadOnly());
    // A binary switch shows both of its texts, a ring slide all of its labels.
    auto* fill = widget<ChoiceButtons>(user, "RL1_PUMP_FILLEMPTY");
    ASSERT_NE(fill, nullptr);
    ASSERT_EQ(fill->count(), 2);
    EXPECT_EQ(fill->button(0)->text(), "Filling");
    EXPECT_EQ(fill->button(1)->text(), "Emptying");
    auto* medium = widget<ChoiceButtons>(user, "MEDIUM");
    ASSERT_NE(medium, nullptr);
    ASSERT_EQ(medium->count(), 3);
    EXPECT_EQ(medium->button(2)->text(), "Liquid Pipe");
}

TEST_F(ViewTest, ClickingAButtonCommitsOnItsCallback)
{
    const int h = open(PANEL);
    QTest::mouseClick(widget(h, "CONFIG_SER_PORT"), Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Get_Buttons", h, PANEL_CONFIG_SER_PORT, EVENT_COMMIT}}));
}

TEST_F(ViewTest, ARingSlideShowsAValueThatIsNoItemAsUnknown)
{
    const int h = open(PANEL_4);
    auto* medium = widget<ChoiceButtons>(h, "MEDIUM");
    model.SetCtrlVal(h, PANEL_4_MEDIUM, 5);
    EXPECT_EQ(medium->current(), -1);
    EXPECT_EQ(medium->unknownText(), "? (5)");
    model.SetCtrlVal(h, PANEL_4_MEDIUM, 8);
    EXPECT_EQ(medium->button(medium->current())->text(), "Liquid Pipe");
    EXPECT_EQ(medium->unknownText(), "");
}

TEST_F(ViewTest, ChoosingARingItemSetsTheItemsValueNotItsPosition)
{
    const int h = open(DATA_LOG);
    auto* ring = widget<QComboBox>(h, "WRITE_TIMER");
    QTest::keyClick(ring, Qt::Key_Down);
    EXPECT_EQ(calls, (Calls{{"Open_Write_File", h, DATA_LOG_WRITE_TIMER, EVENT_VAL_CHANGED},
                            {"Open_Write_File", h, DATA_LOG_WRITE_TIMER, EVENT_COMMIT}}));
    int v = 0;
    model.GetCtrlVal(h, DATA_LOG_WRITE_TIMER, v);
    EXPECT_EQ(v, 3);  // "15 sec" is three polls
    EXPECT_EQ(ring->currentText(), "15 sec");
}

TEST_F(ViewTest, ADisplayOnlyRingCannotBeChanged)
{
    const int h = open(PANEL_2);
    auto* bits = widget<QComboBox>(h, "DATA_BITS");
    QTest::keyClick(bits, Qt::Key_Down);
    bits->showPopup();
    EXPECT_EQ(bits->currentIndex(), 0);
    EXPECT_FALSE(bits->view()->isVisible());
    EXPECT_TRUE(calls.empty());
}

TEST_F(ViewTest, ARingValueMatchingNoItemShowsAsUnknownAndIsNoChoice)
{
    const int h = open(PANEL_2);
    auto* ring = widget<QComboBox>(h, "BAUD_RATE");
    model.SetCtrlVal(h, PANEL_2_BAUD_RATE, 7);
    EXPECT_EQ(ring->currentText(), "? (7)");
    model.SetCtrlVal(h, PANEL_2_BAUD_RATE, 1);
    EXPECT_EQ(ring->currentText(), "19200");
    EXPECT_EQ(ring->count(), 2);  // the unknown entry is gone again

    model.SetCtrlVal(h, PANEL_2_BAUD_RATE, 7);
    emit ring->activated(2);  // the user picks the "? (7)" entry itself
    EXPECT_EQ(ring->currentText(), "? (7)");
    int v = 0;
    model.GetCtrlVal(h, PANEL_2_BAUD_RATE, v);
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(calls.empty());
}

TEST_F(ViewTest, PressingTheOtherSideOfASwitchOrSlideSetsThatItemsValue)
{
    const Panel ref = resourcePanel(PANEL_4);
    const int h = open(PANEL_4);
    auto* sw = widget<ChoiceButtons>(h, "RL1_PUMP_ENABLE");
    EXPECT_EQ(sw->current(), 0);
    QTest::mouseClick(sw->button(1), Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Write_Value_3", h, PANEL_4_RL1_PUMP_ENABLE, EVENT_VAL_CHANGED},
                            {"Write_Value_3", h, PANEL_4_RL1_PUMP_ENABLE, EVENT_COMMIT}}));
    int v = -1;
    model.GetCtrlVal(h, PANEL_4_RL1_PUMP_ENABLE, v);
    EXPECT_EQ(v, ref.find(PANEL_4_RL1_PUMP_ENABLE)->items[1].value);

    calls.clear();
    QTest::mouseClick(sw->button(1), Qt::LeftButton);  // already so: no change, no event
    EXPECT_TRUE(calls.empty());

    auto* medium = widget<ChoiceButtons>(h, "MEDIUM");
    QTest::mouseClick(medium->button(1), Qt::LeftButton);
    model.GetCtrlVal(h, PANEL_4_MEDIUM, v);
    EXPECT_EQ(v, 6);  // "Solid"
    EXPECT_EQ(medium->current(), 1);
}

TEST_F(ViewTest, RingsTheUserCannotChangeLookDisabledAndALongDevicePathLosesItsMiddle)
{
    const int h = open(PANEL_2);
    EXPECT_FALSE(widget(h, "DATA_BITS")->isEnabled());
    EXPECT_FALSE(widget(h, "BIT_STOP")->isEnabled());
    EXPECT_TRUE(widget(h, "PARITY")->isEnabled());

    const std::string path = "COM1 = /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    model.SetCtrlAttribute(h, PANEL_2_DEVICE_PATH, ATTR_LABEL_TEXT, path);
    auto* label = widget<ElidedLabel>(h, "DEVICE_PATH");
    ASSERT_NE(label, nullptr);
    label->resize(label->fontMetrics().horizontalAdvance(QString::fromStdString(path)) / 2, label->height());
    EXPECT_EQ(label->toolTip().toStdString(), path);
    EXPECT_TRUE(label->text().startsWith("COM1 = /dev")) << label->text().toStdString();
    EXPECT_TRUE(label->text().endsWith("port0")) << label->text().toStdString();
    EXPECT_LT(label->text().size(), static_cast<int>(path.size()));
}

// --- dimming and colours ---

TEST_F(ViewTest, DimmingGreysAControlOutAndItTakesNoInputUntilUndimmed)
{
    const int h = open(PANEL);
    auto* logger = widget(h, "LOGGER");
    model.SetCtrlAttribute(h, PANEL_LOGGER, ATTR_DIMMED, Value(1LL));
    EXPECT_FALSE(logger->isEnabled());
    QTest::mouseClick(logger, Qt::LeftButton);
    EXPECT_TRUE(calls.empty());
    model.SetCtrlAttribute(h, PANEL_LOGGER, ATTR_DIMMED, Value(0LL));
    EXPECT_TRUE(logger->isEnabled());
    QTest::mouseClick(logger, Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Get_Buttons", h, PANEL_LOGGER, EVENT_COMMIT}}));

    model.SetCtrlAttribute(h, PANEL_SLAVE_ADDRESS, ATTR_DIMMED, Value(1LL));
    EXPECT_FALSE(widget(h, "SLAVE_ADDRESS")->isEnabled());
}

TEST_F(ViewTest, DimmingAFrameTitleGreysTheTitleButNotTheLampsInside)
{
    const int h = open(PANEL);
    auto* frame = widget<SectionBox>(h, "TEXTMSG_4");
    ASSERT_NE(frame, nullptr);
    // The darkest ink in the title strip: the text itself.
    auto titleInk = [&] {
        const QImage img = frame->grab(QRect(0, 0, frame->width(), frame->fontMetrics().height())).toImage();
        int darkest = 255;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                darkest = std::min(darkest, qGray(img.pixel(x, y)));
        return darkest;
    };
    const int normal = titleInk();
    model.SetCtrlAttribute(h, PANEL_TEXTMSG_4, ATTR_DIMMED, Value(1LL));
    EXPECT_TRUE(frame->titleDimmed());
    EXPECT_GT(titleInk(), normal + 40);
    EXPECT_TRUE(widget(h, "RL1_LED")->isEnabled());
    model.SetCtrlAttribute(h, PANEL_RL1_LED, ATTR_DIMMED, Value(1LL));
    EXPECT_FALSE(widget(h, "RL1_LED")->isEnabled());
    EXPECT_TRUE(widget(h, "RL2_LED")->isEnabled());
}

TEST_F(ViewTest, ALightTextColourGetsADarkGroundSoItStaysReadable)
{
    const int h = open(DATA_LOG);
    auto* msg = widget<QLineEdit>(h, "DATALOG_MSG");
    for (int rgb : {VAL_WHITE, VAL_YELLOW, 0x000080}) {
        SCOPED_TRACE(rgb);
        model.SetCtrlAttribute(h, DATA_LOG_DATALOG_MSG, ATTR_TEXT_COLOR, Value(static_cast<long long>(rgb)));
        const QPalette pal = msg->palette();
        EXPECT_EQ(pal.color(QPalette::Text).rgb() & 0xFFFFFF, static_cast<QRgb>(rgb));
        EXPECT_GE(contrast(pal.color(QPalette::Text), pal.color(QPalette::Base)), 4.5);
    }
}
