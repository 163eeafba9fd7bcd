// The traffic monitor: a table of the frames the app's recorder keeps, one row per frame,
// coloured by outcome, with "errors only", pause, clear and save. It listens to the recorder
// only while it is shown, so a closed window costs the polling nothing.
#pragma once
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>

#include "traffic.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace vek::tools {

// The recorder's frames as table rows. It follows the recorder when sync() is called (new
// frames become rows at the end, dropped ones leave at the top) and stands still otherwise.
class TrafficModel : public QAbstractTableModel {
public:
    explicit TrafficModel(const TrafficRecorder& rec, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    void sync();
    // The frame shown in `row`, or null once the recorder has dropped it.
    const TrafficFrame* frameAt(int row) const;
    // The recorder's frames the rows stand for: [firstSeq, endSeq).
    std::uint64_t firstSeq() const { return first_; }
    std::uint64_t endSeq() const { return end_; }

private:
    const TrafficRecorder& rec_;
    std::uint64_t first_ = 0, end_ = 0;
};

// Keeps the rows of exchanges that did not end valid (both their frames).
class ErrorsOnlyFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setErrorsOnly(bool on);
    bool errorsOnly() const { return on_; }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

private:
    bool on_ = false;
};

class TrafficWindow : public QWidget {
public:
    explicit TrafficWindow(TrafficRecorder& rec, QWidget* parent = nullptr);
    ~TrafficWindow() override;

    void setPaused(bool paused);
    bool paused() const { return paused_; }
    void setErrorsOnly(bool on);
    void clear();
    // Writes the rows the table shows (all, or the errors only when that filter is on; while
    // paused, none that came after the pause) as tab-separated text; false with the reason in
    // `error` when the file cannot be written.
    bool saveTo(const QString& path, QString* error) const;

    TrafficModel& model() { return model_; }
    ErrorsOnlyFilter& filter() { return filter_; }
    QTableView& table() { return *table_; }

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    void follow();
    void saveAs();

    TrafficRecorder& rec_;
    TrafficModel model_;
    ErrorsOnlyFilter filter_;
    QTableView* table_ = nullptr;
    QCheckBox* errorsOnly_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLabel* status_ = nullptr;
    bool paused_ = false;
    bool pending_ = false;  // a catch-up is queued
};

}  // namespace vek::tools
