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
    return Str_ZeroPad(Num_ToHex(index + 64), 2);
}

QString commandCode(int number)
{
    return Str_ZeroPad(Num_ToHex(number + 64 - 1), 2);
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
    return Str_ZeroPad(dev.trimmed(), 4);
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

} // namespace irlearn::frames
