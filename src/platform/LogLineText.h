#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Log lines as a person reads them on a terminal or in a file: each line of a block (wire bytes,
// lines ending with CR LF) behind a stamp and a prefix ("S: "), ended by "\n", in the local
// encoding. Printable ASCII goes out as it is; other lines are read as code page 932, and no
// control byte reaches the reader as it is.
class LogLineText {
public:
    // The view stays valid until the next call. The buffer stays from block to block, so a
    // large block needs no fresh memory.
    QByteArrayView Lines(QByteArrayView stamp, QByteArrayView prefix, QByteArrayView block);

private:
    static qsizetype Room(qsizetype rest, qsizetype lead);
    void EnsureRoom(qsizetype needed);

    QByteArray shown;
    QByteArray paddedLead; // the stamp and prefix, padded to whole chunks
};
