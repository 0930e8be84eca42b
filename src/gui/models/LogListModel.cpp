#include "gui/models/LogListModel.h"

#include "platform/Cp932.h"
#include "platform/Lines.h"
#include "platform/ShownControls.h"

#include <algorithm>

LogListModel::LogListModel(qsizetype lineCapacity, QObject* parent)
    : LogListModel(lineCapacity, DefaultByteCapacity, parent) {}

LogListModel::LogListModel(qsizetype lineCapacity, qsizetype totalBytes, QObject* parent)
    : QAbstractListModel(parent), capacity(std::max<qsizetype>(lineCapacity, 1)),
      byteCapacity(std::max<qsizetype>(totalBytes, 1)) {}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows.size()) {
        return QVariant();
    }
    const Row& row = rows.at(index.row());
    // Control bytes from either side are drawn as visible marks, not as nothing.
    const QString text = ControlPictures(Cp932ToText(row.kept));
    if (row.kept.size() == row.length) {
        return text;
    }
    return QStringLiteral("%1… (%2 bytes)").arg(text).arg(row.length);
}

void LogListModel::AddLines(QByteArrayView text) {
    QList<QByteArrayView> lines;
    ForEachLine(text, [&lines](QByteArrayView line) { lines.append(line); });
    if (lines.isEmpty()) {
        return;
    }

    // The block's own last lines that fit, at least one: a block larger than the whole capacity
    // is not copied only to be thrown away.
    QList<qsizetype> keptSizes(lines.size());
    qsizetype first = lines.size();
    qsizetype added = 0;
    while (first > 0 && lines.size() - first < capacity) {
        const QByteArrayView line = lines.at(first - 1);
        const qsizetype size =
            line.size() > LongLineBytes ? Cp932PrefixLength(line, LongLineBytes) : line.size();
        if (added + size > byteCapacity && first < lines.size()) {
            break;
        }
        --first;
        keptSizes[first] = size;
        added += size;
    }
    const qsizetype kept = lines.size() - first;

    qsizetype overflow = 0;
    qsizetype freed = 0;
    while (overflow < rows.size() &&
           (rows.size() - overflow + kept > capacity || bytes - freed + added > byteCapacity)) {
        freed += rows.at(overflow).kept.size();
        ++overflow;
    }
    if (overflow > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(overflow - 1));
        rows.remove(0, overflow);
        bytes -= freed;
        endRemoveRows();
    }

    const int firstRow = static_cast<int>(rows.size());
    beginInsertRows(QModelIndex(), firstRow, static_cast<int>(firstRow + kept - 1));
    for (qsizetype i = first; i < lines.size(); ++i) {
        const QByteArrayView line = lines.at(i);
        rows.append(Row{line.first(keptSizes.at(i)).toByteArray(), line.size()});
    }
    bytes += added;
    endInsertRows();
}

void LogListModel::Clear() {
    if (rows.isEmpty()) {
        return;
    }
    beginResetModel();
    rows.clear();
    bytes = 0;
    endResetModel();
}
