#pragma once

#include <QAbstractListModel>
#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The lines of one log list, kept as the wire bytes and decoded only when a line is drawn.
// A block's lines go in with one insertion, and the oldest lines go once there are more than
// the capacity in lines or in bytes, so a huge reply neither floods the view with updates nor
// exhausts memory. A line too long to be read in the list anyway (a LIST or UIDL reply without
// line breaks, a binary attachment) keeps only its start and is shown with its full length: it
// would otherwise cost its whole size in memory and in text layout at every repaint.
class LogListModel : public QAbstractListModel {
    Q_OBJECT

public:
    static constexpr qsizetype DefaultCapacity = 100000;
    static constexpr qsizetype DefaultByteCapacity = 16 * 1024 * 1024;
    // Longer lines keep at most this many bytes, cut between characters.
    static constexpr qsizetype LongLineBytes = 1024;

    explicit LogListModel(qsizetype capacity = DefaultCapacity, QObject* parent = nullptr);
    LogListModel(qsizetype capacity, qsizetype byteCapacity, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The complete lines of one block, each ending with CR LF.
    void AddLines(QByteArrayView text);
    void Clear();
    // The bytes kept of a line: all of it, or the start of a long one.
    QByteArray Line(qsizetype row) const { return rows.at(row).kept; }

private:
    struct Row {
        QByteArray kept;
        qsizetype length; // of the whole line
    };

    qsizetype capacity;
    qsizetype byteCapacity;
    qsizetype bytes = 0; // of all kept lines together
    QList<Row> rows;
};
