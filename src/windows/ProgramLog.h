#pragma once

// The program's short in-memory log of its data requests: at most 100
// entries, newest first, gone when the program ends. The log window only
// displays this model, so entries written before the window exists (or
// while it is hidden) are all there when it is shown.

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace windows {

struct LogEntry {
    QString programmteil;
    QString text;
    QString parameter;

    bool operator==(const LogEntry&) const = default;
};

// Splits a row text at ";" into the three columns the way the list control
// did: the first two fields go to "Programmteil" and "Text", everything
// after the second ";" (further ";" included) stays in "Parameter".
LogEntry splitRowText(const QString& rowText);

class ProgramLog : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 100;
    enum Column { ColProgrammteil = 0, ColText = 1, ColParameter = 2, ColumnCount = 3 };

    explicit ProgramLog(QObject* parent = nullptr);

    // Inserts the row at the top and drops whatever falls beyond kMaxRows.
    // Must run in the model's thread; WriteLog takes care of that.
    void addRow(const QString& rowText);
    void clear();

    const QList<LogEntry>& entries() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<LogEntry> rows_;
};

// The one log of the process.
ProgramLog& programLog();

// Adds one entry to programLog(). Safe from any thread (a write from
// another thread is queued to the log's thread) and never fails towards
// the caller: errors while adding or trimming are swallowed.
void WriteLog(const QString& programmteil, const QString& text, const QString& parameter);

} // namespace windows
