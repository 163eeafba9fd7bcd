// Shows the windows with plausible values, to look at them (and to take the screenshots in
// docs/). Not a test: nothing here is checked.
//
//   view_demo [--panel CONSTANT]... [--grab DIR] [--logo FILE]
//
// Without --panel every window opens. With --grab each window is saved as DIR/CONSTANT.png
// and the program ends; otherwise it runs until interrupted.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <iostream>
#include <set>

#include "panel_ids.h"
#include "panel_model.h"
#include "qt/event_loop.h"
#include "clock.h"
#include "qt/qt_panel_view.h"

using namespace vek::ui;
using namespace vek::platform;

namespace {

CallbackRegistry loggingCallbacks(const std::string& resource)
{
    QFile f(QString::fromStdString(resource));
    f.open(QIODevice::ReadOnly);
    const std::string json = f.readAll().toStdString();
    CallbackRegistry reg;
    for (int id = 1; id <= 9; ++id) {
        Panel p;
        if (ParsePanelResource(json, id, p) < 0)
            continue;
        for (const auto& c : p.controls)
            if (!c.callbackName.empty())
                reg[c.callbackName] = [name = c.callbackName](int panel, int ctrl, int event, void*, int, int) {
                    if (event != EVENT_TIMER_TICK)
                        std::cerr << name << "(panel " << panel << ", ctrl " << ctrl << ", event " << event << ")\n";
                    return 0;
                };
    }
    return reg;
}

// A stand-in emblem when the program's logo is not at hand: a green drop over a level line.
QString drawLogo()
{
    QImage img(96, 96, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x8a, 0x3c));
    QPainterPath drop;
    drop.moveTo(48, 8);
    drop.cubicTo(70, 40, 80, 52, 80, 62);
    drop.arcTo(16, 30, 64, 64, 0, -180);
    drop.cubicTo(16, 52, 26, 40, 48, 8);
    p.drawPath(drop);
    p.setBrush(Qt::white);
    p.drawRect(26, 60, 44, 5);
    p.end();
    const QString path = QDir::temp().filePath("view_demo_logo.bmp");
    img.save(path, "BMP");
    return path;
}

void fillMain(PanelModel& m, int h, const QString& logo)
{
    m.SetPanelAttribute(h, ATTR_TITLE, std::string("VEK-QUENOR Modbus RTU Software"));
    m.SetCtrlVal(h, PANEL_TEXTMSG_7, "VEK MODBUS RTU SOFTWARE");
    const int pic = m.NewCtrl(h, CTRL_PICTURE, "", 10, 10);
    m.DisplayImageFile(h, pic, logo.toStdString());
    m.SetCtrlVal(h, PANEL_DISTANCE_MM, 1234);
    m.SetCtrlVal(h, PANEL_LEVEL_MM, 766);
    m.SetCtrlVal(h, PANEL_LEVEL_PERC, 38.3);
    m.SetCtrlVal(h, PANEL_NUMERICTANK, 38.3);
    m.SetCtrlVal(h, PANEL_TEMPERATURE, 21.5);
    m.SetCtrlVal(h, PANEL_OUTPUT_MA, 10.13);
    m.SetCtrlVal(h, PANEL_FREQUENCY, 42.0);
    m.SetCtrlVal(h, PANEL_MEASURE_STATUS, 1);
    m.SetCtrlVal(h, PANEL_SENSOR, "Level 6 m");
    m.SetCtrlVal(h, PANEL_UID, 4711);
    m.SetCtrlVal(h, PANEL_BLIND_DISTANCE, 250);
    m.SetCtrlVal(h, PANEL_DISTANCE_20MA, 300);
    m.SetCtrlVal(h, PANEL_DISTANCE_4MA, 2000);
    m.SetCtrlVal(h, PANEL_RL1_LED, 1);
    m.SetCtrlVal(h, PANEL_RL2_LED, 0);
    m.SetCtrlVal(h, PANEL_ERROR_COMM_LED, 0);
    m.SetCtrlVal(h, PANEL_ERROR_COM_MSG, "");
    m.SetCtrlVal(h, PANEL_ERROR_MSG_LED, 1);
    m.SetCtrlVal(h, PANEL_ERROR_MSG, "-TEMP-");
    m.SetCtrlVal(h, PANEL_N_POLLS, 128);
    m.SetCtrlVal(h, PANEL_N_VALID_RESP, 126);
    m.SetCtrlVal(h, PANEL_NUMERIC, 98.4);
}

void fill(PanelModel& m, int panelId, int h, const QString& logo)
{
    switch (panelId) {
    case PANEL: fillMain(m, h, logo); break;
    case PANEL_2: m.SetCtrlVal(h, PANEL_2_COMPORT, 1); break;
    case PANEL_3:
        m.SetCtrlVal(h, PANEL_3_MINDELTA, 12);
        m.SetCtrlVal(h, PANEL_3_CYCLES_NUM, 8);
        m.SetCtrlVal(h, PANEL_3_EMISSION_TIME, 120);
        m.SetCtrlVal(h, PANEL_3_EPOT_20C, 1800);
        m.SetCtrlVal(h, PANEL_3_ALPHA, 0.001830);
        m.SetCtrlVal(h, PANEL_3_V0, 0.3314);
        m.SetCtrlVal(h, PANEL_3_Z_VALUE, 40);
        m.SetCtrlVal(h, PANEL_3_DAC_20MA, 3950);
        m.SetCtrlVal(h, PANEL_3_DAC_4MA, 790);
        m.SetCtrlVal(h, PANEL_3_FREQUENCY, 40000);
        m.SetCtrlVal(h, PANEL_3_TEMPERATURE, 25);
        m.SetCtrlVal(h, PANEL_3_CONFIG_INDEX_1, "A");
        m.SetCtrlVal(h, PANEL_3_CONFIG_INDEX_2, "7");
        break;
    case PANEL_4:
        for (int unit :
             {PANEL_4_RL1_PUMP_LOWER_UNIT, PANEL_4_RL1_PUMP_UPPER_UNIT, PANEL_4_RL2_TH_UNIT, PANEL_4_RL1_TH_UNIT})
            m.SetCtrlVal(h, unit, "mm");
        m.SetCtrlVal(h, PANEL_4_RL1_TH_VAL, 1500);
        m.SetCtrlVal(h, PANEL_4_RL2_TH_VAL, 500);
        m.SetCtrlVal(h, PANEL_4_RL1_PUMP_LOWER, 400);
        m.SetCtrlVal(h, PANEL_4_RL1_PUMP_UPPER, 1600);
        m.SetCtrlVal(h, PANEL_4_RL1_TH_DELAY, 5);
        m.SetCtrlVal(h, PANEL_4_RL2_TH_DELAY, 5);
        m.SetCtrlVal(h, PANEL_4_RL1_PUMP_DELAY, 10);
        m.SetCtrlVal(h, PANEL_4_FILTER_COEFF, 4);
        m.SetCtrlVal(h, PANEL_4_FROZENGAIN, 30);
        m.SetCtrlVal(h, PANEL_4_MAXGAIN_TH, 60);
        m.SetCtrlVal(h, PANEL_4_WIDTH, 200);
        m.SetCtrlVal(h, PANEL_4_OUTPUT_SAFE_MODE, 6);
        m.SetCtrlVal(h, PANEL_4_MEDIUM, 4);
        m.SetCtrlVal(h, PANEL_4_RL1_TH_ENABLE, 1);
        break;
    case DATA_LOG:
        m.SetCtrlVal(h, DATA_LOG_FILE_NAME, ".xls");
        m.SetCtrlAttribute(h, DATA_LOG_DATALOG_MSG, ATTR_TEXT_COLOR, Value(static_cast<long long>(VAL_WHITE)));
        m.SetCtrlVal(h, DATA_LOG_DATALOG_MSG, "No writing file");
        break;
    case PASSWORD: m.SetCtrlAttribute(h, PASSWORD_STRING, ATTR_PASSWORD_MASK, Value(1LL)); break;
    default: break;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::set<std::string> wanted;
    QString grabDir, logo;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--panel")
            wanted.insert(args[++i].toStdString());
        else if (args[i] == "--grab")
            grabDir = args[++i];
        else if (args[i] == "--logo")
            logo = args[++i];
    }
    if (logo.isEmpty()) {
        const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("LogoVerde.bmp");
        logo = QFile::exists(beside) ? beside : drawLogo();
    }

    const std::string resource = QDir(QCoreApplication::applicationDirPath()).filePath("Panel_def.uir").toStdString();
    vek::platform::SleepClock clock;
    PanelModel model(clock, loggingCallbacks(resource));
    qt::QtPanelView view(model);

    const char* names[] = {"",        "DATA_LOG", "INFO",     "PANEL",    "PANEL_2",
                           "PANEL_3", "PANEL_4",  "PASSWORD", "WR_ASCII", "WRITE_VAL"};
    std::vector<std::pair<std::string, int>> shown;
    int offset = 0;
    for (int id = 1; id <= 9; ++id) {
        if (!wanted.empty() && !wanted.count(names[id]))
            continue;
        const int h = model.LoadPanel(0, resource, id);
        if (h < 0) {
            std::cerr << "cannot load panel " << id << ": " << h << '\n';
            return 1;
        }
        fill(model, id, h, logo);
        model.DisplayPanel(h);
        view.window(h)->move(20 + offset, 20 + offset);
        offset += 40;
        shown.emplace_back(names[id], h);
    }

    if (!grabDir.isEmpty()) {
        QTimer::singleShot(500, [&] {
            for (const auto& [name, h] : shown) {
                const QString file = QDir(grabDir).filePath(QString::fromStdString(name) + ".png");
                view.window(h)->grab().save(file);
                std::cout << file.toStdString() << ' ' << view.window(h)->width() << 'x' << view.window(h)->height()
                          << '\n';
            }
            QCoreApplication::exit(0);
        });
    }
    return qt::RunUserInterface(model, app, &view);
}
