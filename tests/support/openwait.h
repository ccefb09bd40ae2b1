#pragma once

#include "serial/portstate.h"

#include <QObject>
#include <QString>
#include <QTest>

// Opens a line or an engine and waits for the outcome, as a front end would: true once opened()
// came, false after openFailed() (its failure in *failure) or after timeoutMs. An outcome told
// inside open() itself is a failure too: callers set up their state after the call.
template <typename Opener>
bool openAndWait(Opener &opener, const QString &address, irlearn::OpenFailure *failure = nullptr,
                 int timeoutMs = 10000)
{
    bool told = false;
    bool ok = false;
    irlearn::OpenFailure why{irlearn::PortState::Other, QStringLiteral("no outcome in time")};
    QObject listener;
    QObject::connect(&opener, &Opener::opened, &listener, [&] {
        told = true;
        ok = true;
    });
    QObject::connect(&opener, &Opener::openFailed, &listener, [&](const irlearn::OpenFailure &f) {
        told = true;
        why = f;
    });
    opener.open(address);
    if (told) {
        why.message = QStringLiteral("the outcome was told inside open()");
        ok = false;
    } else if (!QTest::qWaitFor([&] { return told; }, timeoutMs)) {
        ok = false;
    }
    if (failure && !ok)
        *failure = why;
    return ok;
}
