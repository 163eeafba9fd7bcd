// The set-up comparison window, offscreen: one row per value with both sides, differences and
// restore outcomes coloured apart from matching rows, "Differences only", and a second
// comparison replacing the first rather than adding to it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTableWidget>

#include "setup_compare_window.h"

using namespace vek;
using namespace vek::tools;
using State = SetupRow::State;

namespace {

SetupComparison sample()
{
    SetupComparison c;
    c.file = "/tmp/tank-7.json";
    c.made = "2026-12-07 14:40:05 by version 2.4.0, COM1 9600 baud, parity none";
    c.backupOf = c.transmitter = "Gauge 5m (model code 17) at slave address 1";
    c.rows = {{16, "Max Gain TH", "500", "500", State::Same, ""},
              {44, "Medium", "4", "8", State::Differs, ""},
              {70, "RL1 TH Value", "1200", "900", State::Failed, "refused: exception 2 (Illegal data address)"},
              {13, "Dac 4mA", "812", "812", State::Written, "written: echo and readback agree"},
              {19, "V0", "0.3313", "0.5", State::NotWritten, "not written: a probe constant, never written"}};
    return c;
}

QString cell(QTableWidget& t, int row, int col) { return t.item(row, col) ? t.item(row, col)->text() : QString(); }

}  // namespace

TEST(SetupCompareWindowTest, EachValueIsARowWithBothSidesAndWhatTheRestoreDid)
{
    SetupCompareWindow w;
    w.setComparison(sample());
    QTableWidget& t = w.table();
    ASSERT_EQ(t.rowCount(), 5);
    EXPECT_EQ(cell(t, 1, 0), "44");
    EXPECT_EQ(cell(t, 1, 1), "Medium");
    EXPECT_EQ(cell(t, 1, 2), "4");
    EXPECT_EQ(cell(t, 1, 3), "8");
    EXPECT_EQ(cell(t, 2, 5), "refused: exception 2 (Illegal data address)");
    EXPECT_TRUE(w.windowTitle().contains("3 differ")) << w.windowTitle().toStdString();
}

TEST(SetupCompareWindowTest, DifferencesAndOutcomesAreColouredApartFromMatchingRows)
{
    SetupCompareWindow w;
    w.setComparison(sample());
    QTableWidget& t = w.table();
    const QBrush same = t.item(0, 2)->background();
    EXPECT_EQ(same.style(), Qt::NoBrush) << "a matching row keeps the table's own colour";
    const QColor differs = t.item(1, 2)->background().color();
    const QColor failed = t.item(2, 2)->background().color();
    const QColor written = t.item(3, 2)->background().color();
    EXPECT_NE(t.item(1, 2)->background().style(), Qt::NoBrush);
    EXPECT_NE(differs, failed);
    EXPECT_NE(differs, written);
    EXPECT_NE(failed, written);
    EXPECT_EQ(t.item(4, 0)->background().color(), differs) << "left alone still differs";
}

TEST(SetupCompareWindowTest, DifferencesOnlyHidesMatchingRowsAndANewComparisonReplacesTheOld)
{
    SetupCompareWindow w;
    w.setComparison(sample());
    w.setDifferencesOnly(true);
    QTableWidget& t = w.table();
    EXPECT_TRUE(t.isRowHidden(0));
    for (int r = 1; r < 5; ++r)
        EXPECT_FALSE(t.isRowHidden(r)) << r;

    SetupComparison next = sample();
    next.rows.resize(2);
    next.rows[1].state = State::Same;
    next.rows[1].transmitter = "4";
    w.setComparison(next);
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_TRUE(t.isRowHidden(1)) << "the filter holds for the new rows";
    EXPECT_EQ(cell(t, 1, 3), "4");
    EXPECT_EQ(cell(t, 1, 5), "");
}
