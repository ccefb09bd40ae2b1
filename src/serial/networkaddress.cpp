#include "serial/networkaddress.h"

#include <QHostAddress>

namespace irlearn {

namespace {

const QString rfc2217Scheme = QStringLiteral("rfc2217://");
const QString tcpScheme = QStringLiteral("tcp://");

} // namespace

QString NetworkAddress::hostAndPort() const
{
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

bool isNetworkAddress(const QString &text)
{
    const QString t = text.trimmed();
    return t.startsWith(rfc2217Scheme, Qt::CaseInsensitive) ||
           t.startsWith(tcpScheme, Qt::CaseInsensitive);
}

std::optional<NetworkAddress> parseNetworkAddress(const QString &text, QString *why)
{
    const QString given = text.trimmed();
    auto invalid = [&]() -> std::optional<NetworkAddress> {
        if (why)
            *why = QStringLiteral("网络端口地址无效：%1（应为 rfc2217://主机:端口 或 "
                                  "tcp://主机:端口）")
                       .arg(given);
        return std::nullopt;
    };
    NetworkAddress address;
    QString rest;
    if (given.startsWith(rfc2217Scheme, Qt::CaseInsensitive)) {
        address.protocol = NetworkAddress::Rfc2217;
        rest = given.mid(rfc2217Scheme.size());
    } else if (given.startsWith(tcpScheme, Qt::CaseInsensitive)) {
        address.protocol = NetworkAddress::RawTcp;
        rest = given.mid(tcpScheme.size());
    } else {
        return invalid();
    }
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return invalid();
    QString host = rest.left(colon);
    const QString portText = rest.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
            return invalid();
    } else if (host.contains(QLatin1Char(':')) || host.contains(QLatin1Char('/')) ||
               host.contains(QLatin1Char('@')) || host.contains(QLatin1Char(' '))) {
        return invalid();
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (host.isEmpty() || !ok || port < 1 || port > 65535 || !portText.front().isDigit())
        return invalid();
    address.host = host;
    address.port = quint16(port);
    return address;
}

} // namespace irlearn
