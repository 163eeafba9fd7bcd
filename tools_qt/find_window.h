// The Find Transmitter window: the port to scan, Start and Cancel, a progress bar with what
// is being tried and the time left, and the list of what answered, with "Use" for a
// transmitter found. The scan is the app's (app/scan.h); the window runs it one probe per
// turn of the event loop, so Cancel and closing the window act between two probes.
#pragma once
#include <QTimer>
#include <QWidget>

#include <optional>

#include "app_state.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace vek::tools {

class FindWindow : public QWidget {
public:
    explicit FindWindow(App& app, QWidget* parent = nullptr);
    ~FindWindow() override;

    // 0 scans every COM port whose device exists; 1 to 9 that port alone.
    void setPortChoice(int port);
    void start();
    void cancel();
    // "Use" on table row `row` (UseScanFindAsked): what came of it, nothing for no row.
    std::optional<ScanUseOutcome> use(int row);

    QTableWidget* table() const { return table_; }
    QProgressBar* progress() const { return progress_; }
    QLabel* status() const { return status_; }
    // The ports skipped and why, one a line (hidden while there are none).
    QLabel* skippedPorts() const { return skipped_; }
    QPushButton* startButton() const { return start_; }
    QComboBox* portChoice() const { return ports_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* useButton() const { return use_; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void step();
    void refresh();
    void addRows();
    void fillPorts();
    void updateUse();

    App& app_;
    static constexpr int kLookAgainMs = 10;  // while a probe or another exchange has the line
    QTimer stepper_;
    QString useStatus_;  // what Use did, shown once the scan it cancelled has ended
    QComboBox* ports_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* use_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* trying_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* skipped_ = nullptr;
    std::size_t rowsShown_ = 0;
    bool scanning_ = false;  // this window started the scan that runs
};

}  // namespace vek::tools
