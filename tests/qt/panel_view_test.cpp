// The windows of the nine panels against the real resource: what each holds and where, what
// reaches the callbacks, what programmatic changes show (and do not raise), and windows
// going away. What each kind of control does on its own is in entry_adapters_test.cpp and
// display_adapters_test.cpp.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <set>
#include <stdexcept>

#include "panel_ids.h"
#include "qt/control_widgets.h"
#include "view_fixture.h"

using namespace vek::ui;
using namespace vek::platform;
using namespace vek::ui::qt;
using namespace vek::ui::testing;

namespace {

using Calls = std::vector<Call>;

QGroupBox* enclosingFrame(QWidget* w)
{
    for (QWidget* p = w ? w->parentWidget() : nullptr; p; p = p->parentWidget())
        if (auto* box = qobject_cast<QGroupBox*>(p))
            return box;
    return nullptr;
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
    for (const char* b : {"INFO", "SET_UP", "SET_UP_UT", "CONFIG_SER_PORT", "LOGGER", "TRAFFIC", "TREND"}) {
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

// Each kind of control gets its widget from the adapter table; a kind missing there would
// otherwise be a control with no face, so it must be refused where it is met, by name.
TEST(ControlKinds, EveryKindTheResourceUsesHasAnAdapterAndAnyOtherIsRefusedByName)
{
    std::set<Kind> kinds{Kind::Picture};  // made at run time (the logo), not by the resource
    for (int id = 1; id <= 9; ++id)
        for (const auto& c : resourcePanel(id).controls)
            kinds.insert(c.kind);
    for (Kind k : kinds)
        EXPECT_NO_THROW(AdapterFor(k)) << "kind " << static_cast<int>(k);

    std::string refusal;
    try {
        AdapterFor(static_cast<Kind>(99));
    } catch (const std::logic_error& e) {
        refusal = e.what();
    }
    EXPECT_NE(refusal.find("kind 99"), std::string::npos) << refusal;
}

TEST(ControlKinds, APanelHoldingAKindWithoutAnAdapterGetsNoWindowAndTheViewIsRefusedByName)
{
    VirtualClock clock;
    CallbackRegistry reg;
    for (const char* name : {"Get_Buttons", "Set_Value", "Find_Transmitter"})
        reg[name] = [](int, int, int, void*, int, int) { return 0; };
    PanelModel model(clock, reg);
    const int h = model.LoadPanel(0, resourcePath(), PANEL_2);
    ASSERT_GT(h, 0);
    // The resource can only name kinds the model knows; one the model knows and the view
    // does not is what a kind added to the model alone would be.
    const_cast<Panel*>(model.panel(h))->find(PANEL_2_PARITY)->kind = static_cast<Kind>(99);
    auto settingsWindows = [] {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += w->objectName() == "PANEL_2";
        return n;
    };
    const int before = settingsWindows();

    std::string refusal;
    try {
        QtPanelView view(model);
    } catch (const std::logic_error& e) {
        refusal = e.what();
    }
    EXPECT_NE(refusal.find("PANEL_2"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("PARITY"), std::string::npos) << refusal;
    EXPECT_EQ(settingsWindows(), before) << "no half-made window is left behind";
    // The model must not keep the refused view as its observer: showing the panel would
    // call into it.
    EXPECT_EQ(model.DisplayPanel(h), 0);
}

// --- the user's actions reach the bound callback ---

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
    for (const char* name : {"Get_Buttons", "Set_Value", "Find_Transmitter"})
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
