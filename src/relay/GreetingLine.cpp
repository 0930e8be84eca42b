#include "relay/GreetingLine.h"

#include <utility>

GreetingLine::Step GreetingLine::Feed(const QByteArray& block) {
    const qsizetype room = qMin(block.size(), Limit - held.size());
    const qsizetype lineFeed = QByteArrayView(block).first(room).indexOf('\n');
    const qsizetype taken = lineFeed < 0 ? room : lineFeed + 1;
    held.append(QByteArrayView(block).first(taken));
    if (lineFeed < 0 && held.size() < Limit) {
        return {};
    }
    return {true, std::exchange(held, QByteArray()), block.sliced(taken)};
}
