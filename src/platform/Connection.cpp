#include "platform/Connection.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

bool Connection::KernelHoldsUnsent(qintptr descriptor) {
    int unsent = 0;
    return descriptor >= 0 && ::ioctl(int(descriptor), SIOCOUTQ, &unsent) == 0 && unsent > 0;
}

void Connection::SetReadPaused(bool paused) {
    if (readPaused == paused) {
        return;
    }
    readPaused = paused;
    if (!paused && (BytesAvailable() > 0 || finishOwed)) {
        QMetaObject::invokeMethod(this, &Connection::DeliverHeldBack, Qt::QueuedConnection);
    }
}

void Connection::ReportArrival() {
    if (readPaused || BytesAvailable() <= 0) {
        return;
    }
    Q_EMIT Arrived();
}

void Connection::ReportPeerFinished() {
    peerFinished = true;
    if (readPaused && BytesAvailable() > 0) {
        finishOwed = true;
        return;
    }
    Q_EMIT PeerFinishedSending();
}

void Connection::ReportFailure(const QString& why) {
    failed = true;
    errorText = why;
    if (finishOwed) {
        failureOwed = true;
        return;
    }
    Q_EMIT Failed();
}

void Connection::ResetReports() {
    peerFinished = false;
    failed = false;
    finishOwed = false;
    failureOwed = false;
    errorText.clear();
}

void Connection::DropReports() {
    ResetReports();
    readPaused = false;
}

void Connection::DeliverHeldBack() {
    // After Close nothing is available and nothing owed, so a late call announces nothing.
    if (readPaused) {
        return;
    }
    ReportArrival();
    if (finishOwed && !readPaused) {
        finishOwed = false;
        Q_EMIT PeerFinishedSending();
        if (failureOwed) {
            failureOwed = false;
            Q_EMIT Failed();
        }
    }
}
