// The windows of the nine panels against the real resource: what is there, what the user's
// actions raise, what programmatic changes show (and do not raise), and windows going away.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "panel_ids.h"
#include "qt/control_widgets.h"
#include "view_fixture.h"

using namespace vek::ui;
using namespace vek::platform;
using namespace vek::ui::qt;
using namespace vek::ui::testing;

namespace {

using Calls = std::vector<Call>;

// Types `text` key by key, any character (QTest's own helper knows only ASCII keys).
void typeText(QWidget* w, const QString& text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
        QApplication::sendEvent(w, &release);
    }
}

QGroupBox* enclosingFrame(QWidget* w)
{
    for (QWidget* p = w ? w->parentWidget() : nullptr; p; p = p->parentWidget())
        if (auto* box = qobject_cast<QGroupBox*>(p))
            return box;
    return nullptr;
}

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

// --- what each window holds ---

TEST_F(ViewTest, EveryPanelOpensAsItsOwnWindowWithEveryControlFoundByItsConstant)
{
    for (int id = 1; id <= 9; ++id) {
        SCOPED_TRACE("panel " + std::to_string(id));
        const Panel ref = resourcePanel(id);
        const int h = open(id);
        PanelWindow* win = view.window(h);
        ASSERT_NE(win, nullptr);
        EXPECT_TRUE(win->isWindow());
        EXPECT_EQ(win->parentWidget(), nullptr);
        EXPECT_TRUE(win->isVisible());
        EXPECT_EQ(win->windowModality(), Qt::NonModal);
        EXPECT_EQ(win->windowTitle().toStdString(), ref.title);
        for (const auto& c : ref.controls) {
            SCOPED_TRACE(c.constant);
            const auto found = win->findChildren<QWidget*>(QString::fromStdString(c.constant));
            ASSERT_EQ(found.size(), 1);
            // Frames are drawn by the sections, timers have no face, and the port copy on the
            // settings window is shown by its ring; everything else must be on screen.
            const bool shown = c.kind != Kind::Decoration && c.kind != Kind::Timer && c.constant != "Porta";
            EXPECT_EQ(found[0]->isVisibleTo(win), shown);
            if (!c.label.empty()) {
                EXPECT_EQ(found[0]->accessibleName().toStdString(), c.label);
            }
        }
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(calls.empty());
}

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

TEST_F(ViewTest, MainWindowFramesItsControlsByGroupUnderTheMatchingTextMessage)
{
    const Panel ref = resourcePanel(PANEL);
    const int h = open(PANEL);
    for (const auto& c : ref.controls) {
        if (c.group.empty())
            continue;
        SCOPED_TRACE(c.constant);
        QGroupBox* frame = enclosingFrame(widget(h, c.constant.c_str()));
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->title().toStdString(), c.group);
    }
    // The frame titles are the panel's own text messages, so dimming or relabelling them works.
    EXPECT_EQ(qobject_cast<QGroupBox*>(widget(h, "TEXTMSG"))->title(), "Monitor");
    EXPECT_EQ(qobject_cast<QGroupBox*>(widget(h, "TEXTMSG_2"))->title(), "Settings");
    EXPECT_EQ(qobject_cast<QGroupBox*>(widget(h, "TEXTMSG_3"))->title(), "Error Messages");
    EXPECT_EQ(qobject_cast<QGroupBox*>(widget(h, "TEXTMSG_4"))->title(), "Relays Status");

    // The buttons stand in one row below the frames, Exit at its right end.
    QWidget* win = view.window(h);
    const int exitY = widget(h, "EXIT")->mapTo(win, QPoint()).y();
    const int exitX = widget(h, "EXIT")->mapTo(win, QPoint()).x();
    for (const char* b : {"INFO", "SET_UP", "SET_UP_UT", "CONFIG_SER_PORT", "LOGGER"}) {
        SCOPED_TRACE(b);
        EXPECT_EQ(widget(h, b)->mapTo(win, QPoint()).y(), exitY);
        EXPECT_LT(widget(h, b)->mapTo(win, QPoint()).x(), exitX);
    }
    EXPECT_GT(exitY, widget(h, "TEXTMSG_3")->mapTo(win, QPoint()).y());
}

TEST_F(ViewTest, ValuesLabelledByATextMessageAreNamedByIt)
{
    const int h = open(PANEL_4);
    EXPECT_EQ(widget(h, "RL1_PUMP_LOWER")->accessibleName(), "RL1 Pump Lower");
    EXPECT_EQ(widget(h, "RL1_PUMP_UPPER")->accessibleName(), "RL1 Pump Upper");
    EXPECT_EQ(widget(h, "RL2_TH_VAL")->accessibleName(), "RL2 TH Value");
    EXPECT_EQ(widget(h, "RL1_TH_VAL")->accessibleName(), "RL1 TH Value");
    model.SetCtrlAttribute(h, PANEL_4_TEXTMSG_10, ATTR_LABEL_TEXT, Value(std::string("Pump Low")));
    EXPECT_EQ(widget(h, "RL1_PUMP_LOWER")->accessibleName(), "Pump Low");
}

// --- the user's actions reach the bound callback ---

TEST_F(ViewTest, ClickingAButtonCommitsOnItsCallback)
{
    const int h = open(PANEL);
    QTest::mouseClick(widget(h, "CONFIG_SER_PORT"), Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Get_Buttons", h, PANEL_CONFIG_SER_PORT, EVENT_COMMIT}}));
}

TEST_F(ViewTest, DoubleClickingAnIndicatorOrAnEntryRaisesOneDoubleClick)
{
    const int main = open(PANEL), adv = open(PANEL_3), user = open(PANEL_4);
    QTest::mouseDClick(widget(main, "UID"), Qt::LeftButton);
    QTest::mouseDClick(widget(adv, "ALPHA"), Qt::LeftButton);
    QTest::mouseDClick(widget(user, "RL1_PUMP_LOWER"), Qt::LeftButton);
    QTest::mouseDClick(widget(main, "SLAVE_ADDRESS"), Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Write_Value", main, PANEL_UID, EVENT_LEFT_DOUBLE_CLICK},
                            {"Write_Value_2", adv, PANEL_3_ALPHA, EVENT_LEFT_DOUBLE_CLICK},
                            {"Write_Value_1", user, PANEL_4_RL1_PUMP_LOWER, EVENT_LEFT_DOUBLE_CLICK},
                            {"Slave_Add", main, PANEL_SLAVE_ADDRESS, EVENT_LEFT_DOUBLE_CLICK}}));
}

TEST_F(ViewTest, ANumberCountsWhenEnteredAndRaisesValueChangedThenCommit)
{
    const int h = open(PANEL);
    auto* box = widget<QLineEdit>(h, "SLAVE_ADDRESS");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "17");
    EXPECT_TRUE(calls.empty());
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(calls, (Calls{{"Slave_Add", h, PANEL_SLAVE_ADDRESS, EVENT_VAL_CHANGED},
                            {"Slave_Add", h, PANEL_SLAVE_ADDRESS, EVENT_COMMIT}}));
    int v = 0;
    model.GetCtrlVal(h, PANEL_SLAVE_ADDRESS, v);
    EXPECT_EQ(v, 17);

    calls.clear();
    QTest::keyClick(box, Qt::Key_Return);  // confirming an unchanged value commits only
    EXPECT_EQ(calls, (Calls{{"Slave_Add", h, PANEL_SLAVE_ADDRESS, EVENT_COMMIT}}));
    EXPECT_TRUE(popups.popups.empty());
}

TEST_F(ViewTest, AReadbackLeavesHalfTypedTextAloneUntilTheFocusLeaves)
{
    const int h = open(PANEL);
    QApplication::setActiveWindow(view.window(h));
    auto* box = widget<QLineEdit>(h, "SLAVE_ADDRESS");
    auto* other = widget<QLineEdit>(h, "UID");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "1");
    model.SetCtrlVal(h, PANEL_SLAVE_ADDRESS, 5);  // a poll's readback in the middle of "17"
    EXPECT_EQ(box->text(), "1");
    QTest::keyClicks(box, "7");
    EXPECT_EQ(box->text(), "17");
    QTest::keyClick(box, Qt::Key_Return);
    int v = 0;
    model.GetCtrlVal(h, PANEL_SLAVE_ADDRESS, v);
    EXPECT_EQ(v, 17);
    model.SetCtrlVal(h, PANEL_SLAVE_ADDRESS, 9);  // committed: readbacks show again
    EXPECT_EQ(box->text(), "9");

    // Typed, not committed, then the focus goes elsewhere with a value that is no number.
    calls.clear();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "2x");
    model.SetCtrlVal(h, PANEL_SLAVE_ADDRESS, 4);
    EXPECT_EQ(box->text(), "2x");
    other->setFocus();
    EXPECT_EQ(box->text(), "4") << "leaving without a commit shows the model's value";
    EXPECT_TRUE(calls.empty());
}

TEST_F(ViewTest, ABadEntryIsRefusedWithTheRangeAndRaisesNothing)
{
    const int h = open(WRITE_VAL);
    model.SetCtrlVal(h, WRITE_VAL_WRITE_VALUE, 500);
    auto* box = widget<QLineEdit>(h, "WRITE_VALUE");
    QApplication::setActiveWindow(view.window(h));
    for (const QString& typed : {QString(), QStringLiteral("-5"), QStringLiteral("65536"), QStringLiteral("99999999"),
                                 QStringLiteral("12,5"), QStringLiteral("1.5"), QStringLiteral("1."),
                                 QStringLiteral("abc"), QStringLiteral(" 5"), QStringLiteral("5 "),
                                 QStringLiteral("\u00e9"), QStringLiteral("0x10"), QStringLiteral("-")}) {
        SCOPED_TRACE(typed.toStdString());
        calls.clear();
        popups.popups.clear();
        box->setFocus();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        typeText(box, typed);
        EXPECT_EQ(box->text(), typed) << "the box shows exactly what was typed";
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_TRUE(calls.empty()) << "Enter raised nothing, so nothing can be written";
        ASSERT_EQ(popups.popups.size(), 1u);
        EXPECT_NE(popups.popups[0].text.find("from 0 to 65535"), std::string::npos) << popups.popups[0].text;
        int v = 0;
        model.GetCtrlVal(h, WRITE_VAL_WRITE_VALUE, v);
        EXPECT_EQ(v, 500);
        EXPECT_EQ(box->text(), "500");
    }
    // The edges of the range are taken as typed.
    for (const char* typed : {"0", "65535"}) {
        box->selectAll();
        QTest::keyClicks(box, typed);
        QTest::keyClick(box, Qt::Key_Return);
        int v = -1;
        model.GetCtrlVal(h, WRITE_VAL_WRITE_VALUE, v);
        EXPECT_EQ(std::to_string(v), typed);
    }
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

TEST_F(ViewTest, EnterInThePasswordBoxPressesEnterWithTheMaskedTextAlreadyInTheModel)
{
    const int h = open(PASSWORD);
    model.SetCtrlAttribute(h, PASSWORD_STRING, ATTR_PASSWORD_MASK, Value(1LL));
    auto* box = widget<QLineEdit>(h, "STRING");
    EXPECT_EQ(box->echoMode(), QLineEdit::Password);
    std::string seen;
    hooks["Set_Value"] = [&](int panel, int, int) { model.GetCtrlVal(panel, PASSWORD_STRING, seen); };
    QTest::keyClicks(box, "tundo");
    EXPECT_TRUE(calls.empty());
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(calls, (Calls{{"Set_Value", h, PASSWORD_ENTER, EVENT_COMMIT}}));
    EXPECT_EQ(seen, "tundo");
}

TEST_F(ViewTest, EnterInAnEntryWithoutACallbackPressesTheWindowsEnterButton)
{
    const int h = open(WR_ASCII);
    std::string seen;
    hooks["Write_Single_Register"] = [&](int panel, int, int) { model.GetCtrlVal(panel, WR_ASCII_STRING, seen); };
    QTest::keyClicks(widget(h, "STRING"), "A");
    QTest::keyClick(widget(h, "STRING"), Qt::Key_Return);
    EXPECT_EQ(calls, (Calls{{"Write_Single_Register", h, WR_ASCII_CONF_VAL, EVENT_COMMIT}}));
    EXPECT_EQ(seen, "A");
}

TEST_F(ViewTest, TheWriteDialogSeesTheTypedValueWhetherEnterOrItsButtonConfirms)
{
    const int h = open(WRITE_VAL);
    auto* spin = widget<QLineEdit>(h, "WRITE_VALUE");
    spin->setFocus();
    int seen = -1;
    hooks["Write_Single_Register"] = [&](int panel, int, int) { model.GetCtrlVal(panel, WRITE_VAL_WRITE_VALUE, seen); };
    spin->selectAll();
    QTest::keyClicks(spin, "123");
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(calls, (Calls{{"Write_Single_Register", h, WRITE_VAL_CONF_VAL, EVENT_COMMIT}}));
    EXPECT_EQ(seen, 123);

    calls.clear();
    spin->selectAll();
    QTest::keyClicks(spin, "55");
    QTest::mouseClick(widget(h, "CONF_VAL"), Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Write_Single_Register", h, WRITE_VAL_CONF_VAL, EVENT_COMMIT}}));
    EXPECT_EQ(seen, 55);
}

TEST_F(ViewTest, AConfigIndexBoxTakesNoTypingButADoubleClickStillReachesIt)
{
    const int h = open(PANEL_3);
    auto* entry = widget<QLineEdit>(h, "CONFIG_INDEX_1");
    EXPECT_TRUE(entry->isReadOnly());
    entry->selectAll();
    QTest::keyClicks(entry, "BX");
    QTest::keyClick(entry, Qt::Key_Return);
    EXPECT_EQ(entry->text(), "*");
    EXPECT_TRUE(calls.empty());
    QTest::mouseDClick(entry, Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Write_Ascii", h, PANEL_3_CONFIG_INDEX_1, EVENT_LEFT_DOUBLE_CLICK}}));
}

TEST_F(ViewTest, OtherWindowsNeverBlockTheMainOne)
{
    const int main = open(PANEL);
    for (int id : {DATA_LOG, INFO, PANEL_2, PANEL_3, PANEL_4, PASSWORD, WR_ASCII, WRITE_VAL})
        open(id);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    QTest::mouseClick(widget(main, "INFO"), Qt::LeftButton);
    EXPECT_EQ(calls, (Calls{{"Get_Buttons", main, PANEL_INFO, EVENT_COMMIT}}));
}

// --- the model's changes reach the window without raising anything ---

TEST_F(ViewTest, ProgrammaticChangesShowInTheWidgetsAndRaiseNoCallback)
{
    const int main = open(PANEL), ser = open(PANEL_2), user = open(PANEL_4), log = open(DATA_LOG);

    model.SetCtrlVal(main, PANEL_OUTPUT_MA, 10.126);
    EXPECT_EQ(widget<QLineEdit>(main, "OUTPUT_MA")->text(), "10.13");
    model.SetCtrlVal(main, PANEL_LEVEL_MM, 70000);  // a short keeps the low 16 bits
    EXPECT_EQ(widget<QLineEdit>(main, "LEVEL_MM")->text(), "4464");
    model.SetCtrlVal(main, PANEL_SLAVE_ADDRESS, 12);
    EXPECT_EQ(widget<QLineEdit>(main, "SLAVE_ADDRESS")->text(), "12");
    model.SetCtrlVal(main, PANEL_RL1_LED, 1);
    EXPECT_TRUE(widget<LedLamp>(main, "RL1_LED")->isLit());
    model.SetCtrlVal(main, PANEL_NUMERICTANK, 42.5);
    EXPECT_EQ(widget<TankGauge>(main, "NUMERICTANK")->value(), 42.5);
    EXPECT_EQ(widget<TankGauge>(main, "NUMERICTANK")->valueText(), "42.5");
    model.SetCtrlVal(main, PANEL_ERROR_COM_MSG, "-NO RESPONSE-");
    EXPECT_EQ(widget<QLineEdit>(main, "ERROR_COM_MSG")->text(), "-NO RESPONSE-");
    model.SetCtrlVal(main, PANEL_TEXTMSG_7, "VEK MODBUS RTU SOFTWARE");
    EXPECT_EQ(widget<QLabel>(main, "TEXTMSG_7")->text(), "VEK MODBUS RTU SOFTWARE");
    model.SetCtrlVal(ser, PANEL_2_COMPORT, 3);
    EXPECT_EQ(widget<QComboBox>(ser, "COMPORT")->currentText(), "COM3");
    model.SetCtrlVal(user, PANEL_4_RL2_TH_SAFETY, 0);
    EXPECT_EQ(widget<ChoiceButtons>(user, "RL2_TH_SAFETY")->current(),
              resourcePanel(PANEL_4).find(PANEL_4_RL2_TH_SAFETY)->itemIndexOf(0));
    model.SetCtrlVal(user, PANEL_4_OUTPUT_SAFE_MODE, 4);
    EXPECT_EQ(widget<ChoiceButtons>(user, "OUTPUT_SAFE_MODE")->current(), 2);  // "21.5 mA"
    model.SetCtrlVal(user, PANEL_4_OUTPUT_SAFE_MODE, 5);
    EXPECT_EQ(widget<ChoiceButtons>(user, "OUTPUT_SAFE_MODE")->current(), -1);  // no item holds 5
    model.SetCtrlVal(log, DATA_LOG_FILE_NAME, ".xls");
    EXPECT_EQ(widget<QLineEdit>(log, "FILE_NAME")->text(), ".xls");

    // Every value-carrying control of every open window, once more: nothing may call back.
    for (int h : {main, ser, user, log})
        for (const auto& c : model.panel(h)->controls)
            if (c.carriesValue())
                model.SetCtrlVal(h, c.id, c.type == DataType::String ? Value(std::string("x")) : Value(1LL));
    EXPECT_TRUE(calls.empty());
}

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

TEST_F(ViewTest, TitleAndLabelChangesReachTheWindow)
{
    const int h = open(PANEL);
    model.SetPanelAttribute(h, ATTR_TITLE, Value(std::string("VEK-QUENOR Modbus RTU Software")));
    EXPECT_EQ(view.window(h)->windowTitle(), "VEK-QUENOR Modbus RTU Software");

    model.SetCtrlAttribute(h, PANEL_TEXTMSG, ATTR_LABEL_TEXT, Value(std::string("Live")));
    EXPECT_EQ(qobject_cast<QGroupBox*>(widget(h, "TEXTMSG"))->title(), "Live");

    QWidget* spin = widget(h, "SLAVE_ADDRESS");
    model.SetCtrlAttribute(h, PANEL_SLAVE_ADDRESS, ATTR_LABEL_TEXT, Value(std::string("Address")));
    EXPECT_EQ(spin->accessibleName(), "Address");
    QLabel* rowLabel = nullptr;
    for (QLabel* l : view.window(h)->findChildren<QLabel*>())
        if (l->buddy() == spin)
            rowLabel = l;
    ASSERT_NE(rowLabel, nullptr);
    EXPECT_EQ(rowLabel->text(), "Address");
}

TEST_F(ViewTest, APictureShowsItsImageFileAndStaysEmptyWithoutOne)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("logo.bmp");
    QImage img(24, 24, QImage::Format_RGB32);
    img.fill(Qt::darkGreen);
    ASSERT_TRUE(img.save(file, "BMP"));

    const int h = open(PANEL);
    const int logo = model.NewCtrl(h, CTRL_PICTURE, "", 0, 0);
    ASSERT_GT(logo, 0);
    auto* pic = qobject_cast<PictureBox*>(view.controlWidget(h, logo));
    ASSERT_NE(pic, nullptr);
    EXPECT_FALSE(pic->hasImage());
    EXPECT_EQ(model.DisplayImageFile(h, logo, file.toStdString()), 0);
    EXPECT_TRUE(pic->hasImage());
    EXPECT_TRUE(pic->isVisibleTo(view.window(h)));
    // The logo heads the window, above the frames.
    EXPECT_LT(pic->mapTo(view.window(h), QPoint()).y(), widget(h, "TEXTMSG")->mapTo(view.window(h), QPoint()).y());

    const int other = model.NewCtrl(h, CTRL_PICTURE, "", 0, 0);
    EXPECT_LT(model.DisplayImageFile(h, other, dir.filePath("missing.bmp").toStdString()), 0);
    EXPECT_FALSE(qobject_cast<PictureBox*>(view.controlWidget(h, other))->hasImage());
}

// --- windows coming and going ---

TEST_F(ViewTest, ClosingAWindowPressesItsOwnQuitButtonAndLeavesTheRestToTheCallback)
{
    struct Case {
        int panel, quit;
        const char* callback;
    };
    for (const Case& c : {Case{PANEL, PANEL_EXIT, "Get_Buttons"}, Case{PANEL_2, PANEL_2_EXIT, "Get_Buttons"},
                          Case{PANEL_3, PANEL_3_EXIT_3, "Get_Buttons"}, Case{PANEL_4, PANEL_4_USCITA, "Get_Buttons_2"},
                          Case{DATA_LOG, DATA_LOG_EXIT, "Get_Buttons"}, Case{INFO, INFO_EXIT, "Get_Buttons_3"},
                          Case{PASSWORD, PASSWORD_EXIT, "Set_Value"}, Case{WR_ASCII, WR_ASCII_EXIT, "Write_Ascii"},
                          Case{WRITE_VAL, WRITE_VAL_EXIT, "Write_Value"}}) {
        SCOPED_TRACE(c.callback);
        const int h = open(c.panel);
        calls.clear();
        EXPECT_FALSE(view.window(h)->close());  // refused: the callback decides
        EXPECT_TRUE(view.window(h)->isVisible());
        EXPECT_EQ(calls, (Calls{{c.callback, h, c.quit, EVENT_COMMIT}}));
    }
}

TEST_F(ViewTest, APanelDiscardedFromInsideItsOwnWidgetsCallbackTakesItsWindowAwaySafely)
{
    // Each way a window's own widget can start the callback that discards it: a button, the
    // close button, Enter in an entry, a double-click on an indicator.
    hooks["Get_Buttons_3"] = [&](int panel, int, int) { model.DiscardPanel(panel); };
    hooks["Get_Buttons"] = [&](int panel, int, int) { model.DiscardPanel(panel); };
    hooks["Set_Value"] = [&](int panel, int, int event) {
        if (event == EVENT_COMMIT)
            model.DiscardPanel(panel);
    };
    hooks["Write_Value"] = [&](int panel, int, int event) {
        if (event == EVENT_LEFT_DOUBLE_CLICK)
            model.DiscardPanel(panel);
    };
    const int info = open(INFO), ser = open(PANEL_2), pass = open(PASSWORD), main = open(PANEL);
    std::vector<QPointer<QWidget>> windows{view.window(info), view.window(ser), view.window(pass), view.window(main)};

    QTest::mouseClick(widget(info, "EXIT"), Qt::LeftButton);
    view.window(ser)->close();
    QTest::keyClicks(widget(pass, "STRING"), "x");
    QTest::keyClick(widget(pass, "STRING"), Qt::Key_Return);
    QTest::mouseDClick(widget(main, "UID"), Qt::LeftButton);

    for (int h : {info, ser, pass, main}) {
        EXPECT_EQ(model.panel(h), nullptr);
        EXPECT_EQ(view.window(h), nullptr);
    }
    for (const auto& w : windows) {
        ASSERT_FALSE(w.isNull());  // still unwinding from its own widget's event
        EXPECT_FALSE(w->isVisible());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto& w : windows)
        EXPECT_TRUE(w.isNull());
}

TEST_F(ViewTest, AHalfTypedEntryInAWindowBeingDiscardedRaisesNothing)
{
    // Hiding the window takes the focus from the entry; that must not commit into a panel
    // the model is in the middle of discarding.
    const int h = open(PANEL_3);
    auto* entry = widget<QLineEdit>(h, "CONFIG_INDEX_1");
    QApplication::setActiveWindow(view.window(h));
    entry->setFocus();
    ASSERT_TRUE(entry->hasFocus());
    entry->selectAll();
    QTest::keyClicks(entry, "Q");
    model.DiscardPanel(h);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(model.panel(h), nullptr);
}

TEST(QtPanelViewAttach, AViewAttachedLaterBuildsWindowsForPanelsAlreadyLoaded)
{
    vek::platform::VirtualClock clock;
    CallbackRegistry reg;
    for (const char* name : {"Get_Buttons", "Set_Value"})
        reg[name] = [](int, int, int, void*, int, int) { return 0; };
    PanelModel model(clock, reg);
    const int shown = model.LoadPanel(0, resourcePath(), PANEL_2);
    const int hidden = model.LoadPanel(0, resourcePath(), PASSWORD);
    model.DisplayPanel(shown);
    model.SetCtrlVal(shown, PANEL_2_COMPORT, 2);

    QtPanelView view(model);
    ASSERT_NE(view.window(shown), nullptr);
    ASSERT_NE(view.window(hidden), nullptr);
    EXPECT_TRUE(view.window(shown)->isVisible());
    EXPECT_FALSE(view.window(hidden)->isVisible());
    EXPECT_EQ(view.window(shown)->findChild<QComboBox*>("COMPORT")->currentText(), "COM2");
}

TEST_F(ViewTest, EscapeIsTheQuitButtonOfEveryWindowButTheMainOne)
{
    const int main = open(PANEL), dialog = open(WRITE_VAL), user = open(PANEL_4);
    QTest::keyClick(view.window(dialog), Qt::Key_Escape);
    QTest::keyClick(view.window(user), Qt::Key_Escape);
    QTest::keyClick(view.window(main), Qt::Key_Escape);
    EXPECT_EQ(calls, (Calls{{"Write_Value", dialog, WRITE_VAL_EXIT, EVENT_COMMIT},
                            {"Get_Buttons_2", user, PANEL_4_USCITA, EVENT_COMMIT}}));
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
