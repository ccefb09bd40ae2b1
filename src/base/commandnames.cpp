#include "base/commandnames.h"

namespace irlearn::commands {

const QStringList &keyNames()
{
    static const QStringList names = {QStringLiteral("开机"),   QStringLiteral("关机"),
                                      QStringLiteral("制冷"),   QStringLiteral("制热"),
                                      QStringLiteral("除湿"),   QStringLiteral("自动风"),
                                      QStringLiteral("强力风"), QStringLiteral("20℃"),
                                      QStringLiteral("25℃"),    QStringLiteral("30℃")};
    return names;
}

int commandNumber(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return 0;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    // Digits beyond int's range do not parse.
    bool ok = false;
    const int n = t.toInt(&ok);
    return ok && n >= 1 && n <= maxCommand ? n : 0;
}

} // namespace irlearn::commands
