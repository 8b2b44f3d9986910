#include "ProgramLog.h"

#include <QCoreApplication>
#include <QThread>

namespace windows {

LogEntry splitRowText(const QString& rowText) {
    const QStringList fields = rowText.split(QLatin1Char(';'));
    LogEntry e;
    e.programmteil = fields.value(0);
    e.text = fields.value(1);
    if (fields.size() > 2) e.parameter = fields.mid(2).join(QLatin1Char(';'));
    return e;
}

ProgramLog::ProgramLog(QObject* parent) : QAbstractTableModel(parent) {}

void ProgramLog::addRow(const QString& rowText) {
    LogEntry e = splitRowText(rowText);
    beginInsertRows({}, 0, 0);
    rows_.prepend(std::move(e));
    endInsertRows();
    if (rows_.size() > kMaxRows) {
        beginRemoveRows({}, kMaxRows, int(rows_.size()) - 1);
        rows_.resize(kMaxRows);
        endRemoveRows();
    }
}

void ProgramLog::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int ProgramLog::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int ProgramLog::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ProgramLog::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size()) return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const LogEntry& e = rows_.at(index.row());
    switch (index.column()) {
    case ColProgrammteil:
        return e.programmteil;
    case ColText:
        return e.text;
    case ColParameter:
        return e.parameter;
    default:
        return {};
    }
}

QVariant ProgramLog::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case ColProgrammteil:
        return QStringLiteral("Programmteil");
    case ColText:
        return QStringLiteral("Text");
    case ColParameter:
        return QStringLiteral("Parameter");
    default:
        return {};
    }
}

ProgramLog& programLog() {
    static ProgramLog* log = [] {
        auto* l = new ProgramLog;
        // Views live in the GUI thread; a first write from a worker must
        // not leave the model behind in that worker.
        if (auto* app = QCoreApplication::instance(); app && app->thread() != l->thread())
            l->moveToThread(app->thread());
        return l;
    }();
    // Deliberately never deleted: it may still be written to while statics
    // and the application object are torn down.
    return *log;
}

void WriteLog(const QString& programmteil, const QString& text, const QString& parameter) {
    try {
        const QString row = programmteil + QLatin1Char(';') + text + QLatin1Char(';') + parameter;
        ProgramLog& log = programLog();
        if (QThread::currentThread() == log.thread()) {
            log.addRow(row);
        } else {
            QMetaObject::invokeMethod(
                &log,
                [row] {
                    try {
                        programLog().addRow(row);
                    } catch (...) {
                    }
                },
                Qt::QueuedConnection);
        }
    } catch (...) {
        // Logging must never disturb the code that logs.
    }
}

} // namespace windows
