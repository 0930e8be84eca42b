#pragma once

#include "relay/Relay.h"
#include "relay/RelayReplies.h"
#include "settings/Settings.h"
#include "support/FakeRelayView.h"
#include "support/LoopbackPeers.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>

// Settings for a relay on a free loopback port in front of the server at serverPort.
inline Settings LoopbackSettings(quint16 serverPort) {
    Settings settings;
    settings.DefaultAccount().host = QStringLiteral("127.0.0.1");
    settings.DefaultAccount().port = serverPort;
    settings.listen = {0, QHostAddress(QHostAddress::LocalHost)};
    return settings;
}

// The most recent conversation has its server's greeting.
inline bool LatestGreeted(const Relay& relay) {
    const RelaySession* latest = relay.LatestSession();
    return latest && latest->CurrentState() == RelaySession::State::Relaying;
}

// No conversation left, and still listening for the next client.
inline bool RelayIdle(const Relay& relay) {
    return relay.SessionCount() == 0 && relay.Listening();
}

// The relay between a scripted mail server and a test client, on loopback, as the relay tests
// build it for every test function.
class RelayRig {
protected:
    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<FakeRelayView> view;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<TestClient> client;

    void SetUpRig() {
        server = std::make_unique<ScriptedServer>();
        view = std::make_unique<FakeRelayView>();
        StartRelay(server->Port());
    }

    void TearDownRig() {
        client.reset();
        relay.reset();
        settings.reset();
        view.reset();
        server.reset();
    }

    // A relay listening on a free loopback port, in front of the server at serverPort.
    void StartRelay(quint16 serverPort) {
        relay.reset();
        settings = std::make_unique<Settings>(LoopbackSettings(serverPort));
        relay = std::make_unique<Relay>(*view, *settings);
        QVERIFY(relay->StartListening().Ok());
    }

    // A client waiting for a server that never answered: told so, let go, and the relay
    // listening again with the window hidden and the tray idle.
    void ExpectClientReleased(const QSignalSpy& failures, const QByteArray& reply) {
        QTRY_COMPARE(client->received, reply);
        QTRY_COMPARE(client->socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(failures.count(), 1);
        QVERIFY(RelayIdle(*relay));
        QTRY_VERIFY(!view->visible);
        QCOMPARE(view->Picture(), TrayPicture::Idle);
    }

    // A new client, connected once the server's greeting has come through the relay.
    void ConnectClient(const QByteArray& greeting) {
        server->greeting = greeting;
        client = std::make_unique<TestClient>();
        client->ConnectTo(relay->ListeningPort());
        QTRY_COMPARE(client->received, greeting);
    }
};
