#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The lines of one log list, kept as the wire bytes and decoded only when a line is drawn.
// A block's lines go in with one insertion, and the oldest lines go once there are more than
// the capacity, so a huge reply neither floods the view with updates nor exhausts memory.
class LogListModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr qsizetype DefaultCapacity = 100000;

    explicit LogListModel(qsizetype capacity = DefaultCapacity, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The complete lines of one block, each ending with CR LF.
    void AddLines(QByteArrayView text);
    void Clear();
    QByteArray Line(qsizetype row) const { return rows.at(row); }

private:
    qsizetype capacity;
    QList<QByteArray> rows;
};
