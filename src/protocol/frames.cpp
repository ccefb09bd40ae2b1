#include "protocol/frames.h"

#include "base/numtext.h"

namespace irlearn::frames {

QString learningModeOn(const QString &dev)
{
    return dev + learnOnEcho;
}

QString learningModeOff(const QString &dev)
{
    return dev + learnOffEcho;
}

QString keyCode(int index)
{
    return zeroPadded(hexDigits(index + 64), 2);
}

QString commandCode(int number)
{
    return zeroPadded(hexDigits(number + 64 - 1), 2);
}

QString keyFrame(const QString &dev, int index)
{
    return dev + keyCode(index);
}

QString commandFrame(const QString &dev, int number)
{
    return dev + commandCode(number);
}

QString setDeviceNumber(const QString &dev)
{
    return QStringLiteral("FD") + dev;
}

QString fitted(const QString &dev)
{
    return zeroPadded(dev.trimmed(), 4);
}

QString readSelect(const QString &dev)
{
    return fitted(dev) + QStringLiteral("ED");
}

QString downloadSelect(const QString &dev)
{
    return fitted(dev) + QStringLiteral("DD");
}

bool isDeviceNumber(const QString &dev)
{
    if (dev.size() != 4)
        return false;
    for (const QChar c : dev) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

} // namespace

QByteArray toBytes(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() / 2 + 1);
    for (qsizetype i = 0; i < text.size(); i += 2) {
        int value = 0;
        for (qsizetype j = i; j < qMin(i + 2, text.size()); ++j) {
            const int d = hexDigit(text.at(j));
            if (d < 0)
                break;
            value = value * 16 + d;
        }
        bytes.append(char(value));
    }
    return bytes;
}

QString toText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex()).toUpper();
}

} // namespace irlearn::frames
