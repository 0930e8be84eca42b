#include "relay/StlsNegotiation.h"

#include "platform/TlsTrust.h"

namespace {

bool IsOk(const QByteArray& line) {
    return line.startsWith("+OK");
}

// A capability line names its keyword first, in any letter case.
bool NamesStls(const QByteArray& line) {
    const qsizetype space = line.indexOf(' ');
    return (space < 0 ? line : line.left(space)).trimmed().toUpper() == "STLS";
}

} // namespace

StlsNegotiation::Action StlsNegotiation::Feed(const QByteArray& block) {
    Action action;
    if (phase == Phase::Done) {
        return action;
    }
    pending += block;
    qsizetype start = 0;
    while (action.step == Step::Wait) {
        const qsizetype end = pending.indexOf("\r\n", start);
        if (end < 0) {
            break;
        }
        const QByteArray line = pending.mid(start, end - start);
        start = end + 2;
        action.serverLines.append(line);
        HandleLine(line, action);
    }
    pending.remove(0, start);
    if (action.step == Step::Wait && pending.size() > LineLimit) {
        // No POP3 line is this long: a server that never ends its line must not fill memory.
        action.step = Step::Refused;
        action.reason = QStringLiteral("the mail server sent a line longer than %1 bytes before "
                                       "STLS")
                            .arg(LineLimit);
    }
    if (action.step == Step::StartTls && !pending.isEmpty()) {
        // Bytes behind the "+OK" were sent before TLS yet would be read as if they came
        // through it: someone in the middle may have put them there. They are logged, not used.
        action.step = Step::Refused;
        action.reason = TlsReason::DataAfterStls;
        for (qsizetype end; (end = pending.indexOf("\r\n")) >= 0; pending.remove(0, end + 2)) {
            action.serverLines.append(pending.left(end));
        }
    }
    if (action.step == Step::StartTls || action.step == Step::Refused) {
        phase = Phase::Done;
        pending.clear();
    }
    return action;
}

QString StlsNegotiation::Awaited() const {
    switch (phase) {
    case Phase::Greeting:
        return QStringLiteral("no greeting");
    case Phase::CapaStatus:
    case Phase::CapaLines:
        return QStringLiteral("no whole reply to CAPA");
    case Phase::StlsReply:
    case Phase::Done:
        break;
    }
    return QStringLiteral("no reply to STLS");
}

void StlsNegotiation::HandleLine(const QByteArray& line, Action& action) {
    switch (phase) {
    case Phase::Greeting:
        if (!IsOk(line)) {
            action.step = Step::Refused;
            action.reason = TlsReason::ConnectionRefused;
            return;
        }
        greeting = line + "\r\n";
        phase = Phase::CapaStatus;
        action.step = Step::SendToServer;
        action.bytes = CapaCommand;
        return;
    case Phase::CapaStatus:
        if (IsOk(line)) {
            phase = Phase::CapaLines;
            return;
        }
        // A server without CAPA may still know STLS; its answer decides.
        SendStls(action);
        return;
    case Phase::CapaLines:
        if (line == ".") {
            if (!stlsOffered) {
                action.step = Step::Refused;
                action.reason = TlsReason::NoStls;
                return;
            }
            SendStls(action);
            return;
        }
        stlsOffered = stlsOffered || NamesStls(line);
        return;
    case Phase::StlsReply:
        if (IsOk(line)) {
            action.step = Step::StartTls;
        } else {
            action.step = Step::Refused;
            action.reason = TlsReason::StlsRefused;
        }
        return;
    case Phase::Done:
        return;
    }
}

void StlsNegotiation::SendStls(Action& action) {
    phase = Phase::StlsReply;
    action.step = Step::SendToServer;
    action.bytes = StlsCommand;
}
