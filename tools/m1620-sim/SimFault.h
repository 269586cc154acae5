#pragma once

#include <QString>

#include <optional>

// A misbehaviour that the simulator shows on the next device requests instead of a proper
// answer. Control requests are never affected.
struct SimFault
{
    enum class Mode {
        None,
        Delay, // answer normally after `value` ms
        Hang, // accept, read, never answer
        HangHeaders, // send part of the header block, then nothing
        Trickle, // the whole normal answer at one byte per second
        Status, // the normal body under status code `value`
        Empty, // 200 with an empty body
        NotJson, // 200 with a body that is not JSON
        Array, // 200 with a JSON array
        Huge, // 200 with a JSON object of `value` bytes
        CloseMidBody, // headers and half the body, then close
        Garbage, // bytes of no HTTP at all, then close
        Reset, // drop the connection with a TCP reset
        // On a set-rate only: the rate is not applied; the device restarts instead, dropping
        // every connection, and answers no device request for `value` ms.
        Reboot,
    };

    Mode mode = Mode::None;
    int count = -1; // requests left; -1 = until cleared
    qint64 value = 0; // ms, status code or bytes, as the mode needs

    bool active() const { return mode != Mode::None && count != 0; }
    bool operator==(const SimFault &) const = default;

    static QString name(Mode mode);
    static std::optional<Mode> modeFromName(const QString &name);
    // What the control API calls `value` for this mode ("ms", "code", "bytes"), or empty.
    static QString valueName(Mode mode);
    // The log and control text, e.g. "trickle count=3" or "delay ms=2000".
    QString describe() const;
};
