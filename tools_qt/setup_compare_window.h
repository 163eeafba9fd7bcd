// The set-up comparison: a backup beside what the transmitter holds, one row per value, the
// differences coloured, and what a restore did to each row. It only shows what the app hands it.
#pragma once
#include <QWidget>

#include "setup_comparison.h"

class QCheckBox;
class QLabel;
class QTableWidget;

namespace vek::tools {

class SetupCompareWindow : public QWidget {
public:
    explicit SetupCompareWindow(QWidget* parent = nullptr);

    // Replaces what the window shows.
    void setComparison(const SetupComparison& c);
    void setDifferencesOnly(bool on);

    QTableWidget& table() { return *table_; }
    const SetupComparison& comparison() const { return c_; }

    // The colour a row of this state gets; invalid for a row that matches.
    static QColor colourOf(SetupRow::State s);

private:
    void applyFilter();

    SetupComparison c_;
    QLabel* heading_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* summary_ = nullptr;
    QCheckBox* differencesOnly_ = nullptr;
    QTableWidget* table_ = nullptr;
};

}  // namespace vek::tools
