#pragma once

#include <QString>

#include <optional>

namespace irlearn {

// A serial port served over the network: "rfc2217://HOST:PORT" (telnet with the serial-port
// option, so the line settings are ours) or "tcp://HOST:PORT" (bytes as they are; the server's
// line settings are its own). An IPv6 host is written in brackets: rfc2217://[::1]:4001.
struct NetworkAddress
{
    enum Protocol { Rfc2217, RawTcp };
    Protocol protocol = Rfc2217;
    QString host;
    quint16 port = 0;

    // "host:port", with brackets around an IPv6 host.
    QString hostAndPort() const;
};

// Whether text is meant as a network address (it starts with "rfc2217://" or "tcp://", any
// case), well formed or not: such a text is never a device path.
bool isNetworkAddress(const QString &text);

// The address in text; nothing, with *why for the operator, when it is not a well-formed one.
std::optional<NetworkAddress> parseNetworkAddress(const QString &text, QString *why = nullptr);

} // namespace irlearn
