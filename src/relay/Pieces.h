#pragma once

#include <QByteArray>
#include <QList>

// A block cut at every CR LF pair: n pairs give n + 1 pieces, the last one being what follows
// the last CR LF (empty when the block ends with CR LF). A lone CR or LF does not cut.
QList<QByteArray> SplitPieces(const QByteArray& block);

// The complete lines of a block: every piece but the trailing one.
QList<QByteArray> CompleteLines(const QByteArray& block);

// Pieces joined back: each but the last followed by CR LF.
QByteArray JoinPieces(const QList<QByteArray>& pieces);
