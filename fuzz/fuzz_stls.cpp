// clang-format off
// fuzz-sources: src/relay/StlsNegotiation.cpp
// clang-format on
//
// Any server bytes, cut at any points, through the plain-text steps before TLS: greeting, CAPA,
// STLS. The outcome, the commands sent and the lines logged must be those of a model written
// here line by line from RFC 2595, and TLS may start only right behind the server's "+OK" to
// STLS with nothing else sent in clear behind it.
//
// Input: what the server sends, cut as CutBytes reads it.

#include "CutBytes.h"
#include "platform/TlsTrust.h"
#include "relay/StlsNegotiation.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr qsizetype LineLimit = 8 * 1024;

void Require(bool holds, const char* promise) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", promise);
        std::abort();
    }
}

using Step = StlsNegotiation::Step;

struct Outcome {
    Step step = Step::Wait;
    QString reason;
    QByteArray sent;
    QByteArray logged; // each line with CR LF
};

// The negotiation as the link drives it; bytes a server sends before it is asked are taken up
// as soon as the command they answer has gone.
Outcome Drive(const QList<QByteArray>& pieces) {
    StlsNegotiation negotiation;
    Outcome outcome;
    for (const QByteArray& piece : pieces) {
        StlsNegotiation::Action action = negotiation.Feed(piece);
        for (;;) {
            for (const QByteArray& line : action.serverLines) {
                outcome.logged += line + "\r\n";
            }
            if (action.step != Step::SendToServer) {
                break;
            }
            outcome.sent += action.bytes;
            action = negotiation.Feed({});
        }
        if (action.step != Step::Wait) {
            outcome.step = action.step;
            outcome.reason = action.reason;
            return outcome;
        }
    }
    return outcome;
}

bool FirstWordIsStls(const QByteArray& line) {
    const qsizetype space = line.indexOf(' ');
    return (space < 0 ? line : line.first(space)).trimmed().toUpper() == "STLS";
}

// The same steps, written apart: each line is taken once the piece holding its end is in.
Outcome Model(const QByteArray& server, const QList<qsizetype>& pieceEnds) {
    enum class Phase { Greeting, CapaStatus, CapaLines, StlsReply } phase = Phase::Greeting;
    bool offered = false;
    Outcome outcome;
    qsizetype consumed = 0;
    const auto end = [&](Step step, const QString& reason) {
        outcome.step = step;
        outcome.reason = reason;
        return outcome;
    };
    for (const qsizetype fedEnd : pieceEnds) {
        for (;;) {
            const qsizetype crlf = server.indexOf("\r\n", consumed);
            if (crlf < 0 || crlf + 2 > fedEnd) {
                break;
            }
            const QByteArray line = server.sliced(consumed, crlf - consumed);
            consumed = crlf + 2;
            outcome.logged += line + "\r\n";
            const bool ok = line.startsWith("+OK");
            switch (phase) {
            case Phase::Greeting:
                if (!ok) {
                    return end(Step::Refused, TlsReason::ConnectionRefused);
                }
                outcome.sent += "CAPA\r\n";
                phase = Phase::CapaStatus;
                continue;
            case Phase::CapaStatus:
                if (ok) {
                    phase = Phase::CapaLines;
                } else {
                    outcome.sent += "STLS\r\n";
                    phase = Phase::StlsReply;
                }
                continue;
            case Phase::CapaLines:
                if (line != ".") {
                    offered = offered || FirstWordIsStls(line);
                    continue;
                }
                if (!offered) {
                    return end(Step::Refused, TlsReason::NoStls);
                }
                outcome.sent += "STLS\r\n";
                phase = Phase::StlsReply;
                continue;
            case Phase::StlsReply:
                if (!ok) {
                    return end(Step::Refused, TlsReason::StlsRefused);
                }
                if (consumed == fedEnd) {
                    return end(Step::StartTls, {});
                }
                // What came behind it in clear is logged as far as its lines are whole.
                for (qsizetype next;
                     (next = server.indexOf("\r\n", consumed)) >= 0 && next + 2 <= fedEnd;
                     consumed = next + 2) {
                    outcome.logged += server.sliced(consumed, next - consumed) + "\r\n";
                }
                return end(Step::Refused, TlsReason::DataAfterStls);
            }
        }
        if (fedEnd - consumed > LineLimit) {
            return end(Step::Refused, QStringLiteral("too long"));
        }
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArrayView input(data, static_cast<qsizetype>(size));
    const CutBytes server(input);
    const Outcome driven = Drive(server.pieces);
    const Outcome model = Model(server.whole, server.pieceEnds);
    Require(driven.step == model.step, "the outcome is the model's");
    Require(driven.sent == model.sent, "the commands sent are the model's");
    Require(driven.logged == model.logged, "the lines logged are the model's");
    if (model.reason == QStringLiteral("too long")) {
        Require(driven.reason.contains(QStringLiteral("longer than 8192 bytes")),
                "an endless line is refused as such");
    } else {
        Require(driven.reason == model.reason, "the reason is the model's");
    }
    return 0;
}
