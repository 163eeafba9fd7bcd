// The entries, numbers and strings, against the real resource: what typing and Enter raise,
// what is refused and why, and readbacks that leave half-typed text alone.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

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
    for (const QString& typed :
         {QString(), QStringLiteral("-5"), QStringLiteral("65536"), QStringLiteral("99999999"), QStringLiteral("12,5"),
          QStringLiteral("1.5"), QStringLiteral("1."), QStringLiteral("abc"), QStringLiteral(" 5"),
          QStringLiteral("5 "), QStringLiteral("\u00e9"), QStringLiteral("0x10"), QStringLiteral("-")}) {
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
