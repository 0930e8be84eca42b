#include "relay/LoopbackPeer.h"

bool IsLoopbackPeer(const QHostAddress& peer) {
    // Qt classifies the v4-mapped form by its IPv4 address and leaves ::127.x.y.z out.
    return peer.isLoopback();
}
