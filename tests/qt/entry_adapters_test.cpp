// The entries, numbers and strings, against the real resource: what typing and Enter raise,
// what is refused and why, and readbacks that leave half-typed text alone.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include <optional>

#include "panel_ids.h"
#include "view_fixture.h"

using namespace vek::ui;
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

}  // namespace

// --- numbers ---

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

    // Typed, not committed, then the focus goes elsewhere with a value that is no number: the
    // box keeps it, marked as not taken, and the model keeps its value.
    calls.clear();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "2x");
    model.SetCtrlVal(h, PANEL_SLAVE_ADDRESS, 4);
    EXPECT_EQ(box->text(), "2x");
    other->setFocus();
    EXPECT_EQ(box->text(), "2x") << "the entry stays to be seen, and refused by a button";
    EXPECT_TRUE(box->toolTip().startsWith("Not taken:")) << box->toolTip().toStdString();
    model.GetCtrlVal(h, PANEL_SLAVE_ADDRESS, v);
    EXPECT_EQ(v, 4);
    EXPECT_TRUE(calls.empty());
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_EQ(box->text(), "4") << "Enter refuses it and shows the model's value";
    EXPECT_TRUE(box->toolTip().isEmpty());
    EXPECT_EQ(popups.popups.size(), 1u);
    EXPECT_TRUE(calls.empty());
}

TEST_F(ViewTest, ABadEntryIsRefusedWithTheRangeAndRaisesNothing)
{
    const int h = open(WRITE_VAL);
    model.SetCtrlVal(h, WRITE_VAL_WRITE_VALUE, 500);
    auto* box = widget<QLineEdit>(h, "WRITE_VALUE");
    QApplication::setActiveWindow(view.window(h));
    for (const QString& typed : {QString(),
                                 QStringLiteral("-5"),
                                 QStringLiteral("65536"),
                                 QStringLiteral("99999999"),
                                 QStringLiteral("12,5"),
                                 QStringLiteral("1.5"),
                                 QStringLiteral("1."),
                                 QStringLiteral("abc"),
                                 QStringLiteral(" 5"),
                                 QStringLiteral("5 "),
                                 QStringLiteral("\u00e9"),
                                 QStringLiteral("0x10"),
                                 QStringLiteral("-"),
                                 QStringLiteral("+5"),
                                 QStringLiteral("--5"),
                                 QStringLiteral("\u22125"),
                                 QStringLiteral("+"),
                                 QStringLiteral("5-"),
                                 QStringLiteral("1e3"),
                                 QStringLiteral("\uff15")}) {
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

// --- strings, and Enter in a dialog ---

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

// --- a button acts on what the box shows, however it is pressed ---

namespace {

enum class Press { Mouse, TabSpace, Accessibility };

const char* pressName(Press p)
{
    switch (p) {
    case Press::Mouse: return "mouse click";
    case Press::TabSpace: return "Tab then Space";
    case Press::Accessibility: return "accessibility press";
    }
    return "";
}

// Presses `button` as a user would: a click of the mouse (which takes the focus from the box
// first), Tab from the box until the button has the focus and then Space, or the press
// action of its accessibility interface (the box keeps the focus).
void pressButton(Press how, QWidget* box, QWidget* button)
{
    switch (how) {
    case Press::Mouse: QTest::mouseClick(button, Qt::LeftButton); return;
    case Press::TabSpace:
        for (int i = 0; i < 10 && QApplication::focusWidget() != button; ++i)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box, Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), button) << "Tab never reached the button";
        QTest::keyClick(button, Qt::Key_Space);
        return;
    case Press::Accessibility: {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(button);
        ASSERT_TRUE(a && a->actionInterface());
        a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        // The press animates the button for a moment before it clicks.
        EXPECT_TRUE(QTest::qWaitFor([button] { return !static_cast<QAbstractButton*>(button)->isDown(); }, 2000));
        return;
    }
    }
}

}  // namespace

TEST_F(ViewTest, TheWriteDialogsEnterButtonActsOnTheBoxAsReturnDoesHoweverItIsPressed)
{
    struct Case {
        QString typed;
        std::optional<int> written;  // what the button hands to the write, or nothing
    };
    const Case cases[] = {
        {QStringLiteral("1500"), 1500}, {QStringLiteral("0"), 0},      {QStringLiteral("1.500"), {}},
        {QStringLiteral("1500 "), {}},  {QStringLiteral(" 1500"), {}}, {QStringLiteral("+1500"), {}},
        {QStringLiteral("0x10"), {}},   {QStringLiteral("3,900"), {}}, {QString(), {}},
    };
    for (Press how : {Press::Mouse, Press::TabSpace, Press::Accessibility})
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(pressName(how)) + ", typed \"" + k.typed.toStdString() + "\"");
            const int h = open(WRITE_VAL);
            QApplication::setActiveWindow(view.window(h));
            model.SetCtrlVal(h, WRITE_VAL_WRITE_VALUE, 3700);
            std::vector<int> seen;
            hooks["Write_Single_Register"] = [&](int panel, int, int) {
                int v = -1;
                model.GetCtrlVal(panel, WRITE_VAL_WRITE_VALUE, v);
                seen.push_back(v);
            };
            calls.clear();
            popups.popups.clear();
            auto* box = widget<QLineEdit>(h, "WRITE_VALUE");
            box->setFocus();
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Delete);
            typeText(box, k.typed);
            pressButton(how, box, widget(h, "CONF_VAL"));
            if (k.written) {
                EXPECT_EQ(seen, std::vector<int>{*k.written}) << "one write, of the value typed";
                EXPECT_TRUE(popups.popups.empty());
            } else {
                EXPECT_TRUE(seen.empty()) << "a refused entry writes nothing, not the value from before";
                ASSERT_EQ(popups.popups.size(), 1u);
                EXPECT_NE(popups.popups[0].text.find("Nothing was written"), std::string::npos);
                EXPECT_EQ(box->text(), "3700") << "the box shows the model's value again";
            }
            model.DiscardPanel(h);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
}

TEST_F(ViewTest, ABadEntryLeftInAWindowRefusesItsButtonsButNotItsQuitButton)
{
    const int h = open(PANEL);
    QApplication::setActiveWindow(view.window(h));
    auto* box = widget<QLineEdit>(h, "SLAVE_ADDRESS");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "300");
    QTest::mouseClick(widget(h, "INFO"), Qt::LeftButton);
    EXPECT_TRUE(callsOf("Get_Buttons").empty()) << "the press is refused, with the reason";
    ASSERT_EQ(popups.popups.size(), 1u);
    EXPECT_NE(popups.popups[0].text.find("1 to 247"), std::string::npos) << popups.popups[0].text;

    // Typed again and left: the quit button still closes, and says nothing about the box.
    popups.popups.clear();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "abc");
    QTest::mouseClick(widget(h, "EXIT"), Qt::LeftButton);
    EXPECT_EQ(callsOf("Get_Buttons"), (Calls{{"Get_Buttons", h, PANEL_EXIT, EVENT_COMMIT}}));
    EXPECT_TRUE(popups.popups.empty());
}

TEST_F(ViewTest, TheTextBoxesOfThePasswordAndTheLoggerReachTheirButtonAsTypedHoweverItIsPressed)
{
    struct Case {
        int panel, box;
        const char *boxName, *buttonName, *callback;
    };
    const Case cases[] = {
        {PASSWORD, PASSWORD_STRING, "STRING", "ENTER", "Set_Value"},
        {DATA_LOG, DATA_LOG_FILE_NAME, "FILE_NAME", "OPEN_CREATE_FILE", "Open_Write_File"},
    };
    for (Press how : {Press::Mouse, Press::TabSpace, Press::Accessibility})
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(pressName(how)) + " on " + k.buttonName);
            const int h = open(k.panel);
            QApplication::setActiveWindow(view.window(h));
            std::vector<std::string> seen;
            hooks[k.callback] = [&](int panel, int, int event) {
                std::string v;
                model.GetCtrlVal(panel, k.box, v);
                if (event == EVENT_COMMIT)
                    seen.push_back(v);
            };
            auto* box = widget<QLineEdit>(h, k.boxName);
            box->setFocus();
            typeText(box, QStringLiteral("tank 7.txt"));
            pressButton(how, box, widget(h, k.buttonName));
            EXPECT_EQ(seen, std::vector<std::string>{"tank 7.txt"}) << "one press, with the text as typed";
            EXPECT_TRUE(popups.popups.empty());
            hooks.erase(k.callback);
            model.DiscardPanel(h);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
}
