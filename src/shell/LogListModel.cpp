#include "shell/LogListModel.h"

#include "platform/Cp932.h"
#include "relay/Pieces.h"

#include <algorithm>

LogListModel::LogListModel(qsizetype lineCapacity, QObject* parent)
    : QAbstractListModel(parent), capacity(std::max<qsizetype>(lineCapacity, 1)) {}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows.size()) {
        return QVariant();
    }
    return Cp932ToText(rows.at(index.row()));
}

void LogListModel::AddLines(QByteArrayView text) {
    QList<QByteArray> lines;
    ForEachLine(text, [&lines](QByteArrayView line) { lines.append(line.toByteArray()); });
    if (lines.isEmpty()) {
        return;
    }
    const qsizetype kept = std::min(lines.size(), capacity);
    const qsizetype overflow = rows.size() + kept - capacity;
    if (overflow > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(overflow - 1));
        rows.remove(0, overflow);
        endRemoveRows();
    }
    const int first = static_cast<int>(rows.size());
    beginInsertRows(QModelIndex(), first, static_cast<int>(first + kept - 1));
    rows.append(lines.sliced(lines.size() - kept));
    endInsertRows();
}

void LogListModel::Clear() {
    if (rows.isEmpty()) {
        return;
    }
    beginResetModel();
    rows.clear();
    endResetModel();
}
