#pragma once

#include "options.h"
#include "table.h"

#include <QObject>

#include <functional>

namespace irlearn::devsim {

class FrameLog;
class PtyLine;

// The learning device's side of the protocol: what it answers to each frame, its learning mode,
// its device number, and the two record-by-record transfers of its code table.
class Device : public QObject
{
    Q_OBJECT

public:
    Device(const Options &options, const Table &table, PtyLine *line, FrameLog *log,
           QObject *parent = nullptr);

    void handleFrame(const QByteArray &frame, qint64 firstByteMs);

signals:
    // The adapter was pulled (--vanish-after): the process should close the terminal and end.
    void unplugged();

private:
    enum class Opening { None, Read, Download };

    bool handleCommand(const QByteArray &frame);
    bool learnAsScripted(int command);
    void handleOpeningStep(const QByteArray &frame);
    void sendNextRecord();
    void receiveRecord(const QByteArray &frame);
    void storeRecord(int slot, QByteArray record);
    void unplug(const QString &why);
    QByteArray garbageFor(const QByteArray &frame);
    void startOpening(Opening kind, char echo);

    // Replies leave after delayMs plus the configured slowness of every answer; then runs once
    // the reply has been handed to the line.
    void answer(const QByteArray &reply, int delayMs = 0, std::function<void()> then = {});
    void dump();
    QString number() const;

    Options m_options;
    Table m_table;
    PtyLine *m_line = nullptr;
    FrameLog *m_log = nullptr;

    QByteArray m_deviceNumber;
    bool m_learning = false;
    QMap<int, int> m_learnings; // learning frames received, per numbered command

    Opening m_opening = Opening::None; // a transfer opening in progress
    int m_openingStep = 0;             // 1 after "dd ED"/"dd DD", 2 after "40"

    bool m_reading = false;
    int m_readNext = 0; // slot of the record the next request gets
    int m_readSent = 0; // records sent since the opening

    bool m_downloading = false;
    int m_downloadSlot = 0;
    bool m_restartDone = false;

    quint32 m_noise = 0; // state of the --garbage generator
};

} // namespace irlearn::devsim
