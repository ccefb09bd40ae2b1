#pragma once

#include "codefile/codetable.h"

#include <QString>
#include <QTimer>

namespace irlearn {

// The state shared by the exchange, the reply handler and the workflows: plain variables that
// live as long as the window. There is one outstanding request at a time and no lock: everything
// runs on the window's thread.
struct DeviceState
{
    DeviceState()
    {
        for (QTimer *t : {&Timer1, &Timer2, &Timer3}) {
            t->setSingleShot(true);
            t->setTimerType(Qt::PreciseTimer);
        }
    }

    // The exchange.
    bool waitReply = false; // a SendCommand request awaits its reply
    QString replyTag;       // tag of the awaited reply; "" = nothing awaited
    QString lastReply;      // last tagged reply received
    qint32 replyLen = 0;    // reply bytes to wait for when reading

    bool waitLearn = false; // a numbered learning awaits its result
    qint32 readBytes = 0;   // code table received so far, 256 a record
    qint16 recIndex = 0;    // slot of the record being downloaded
    bool userClick = false; // the click being handled was started by the mouse

    CodeTable codeRec;

    // One-shot delays: Timer1 requests the next record of a read, Timer3 sends the next record
    // of a download, Timer2 takes the wait notice down 20 s after a transfer started.
    QTimer Timer1;
    QTimer Timer2;
    QTimer Timer3;
};

} // namespace irlearn
