#include "base/numtext.h"

#include <QtGlobal>

#include <cmath>

namespace irlearn {

namespace {

// floor(x + 0.5) is not it: between 2^52 and 2^53 the sum of an odd integer and one half is not
// representable and rounds to the even neighbour. The fraction x - floor(x) is always exact.
double roundHalfUp(double x)
{
    const double whole = std::floor(x);
    return x - whole >= 0.5 ? whole + 1.0 : whole;
}

} // namespace

int roundedRemainder(double x, int m)
{
    const double a = roundHalfUp(x);
    const double b = static_cast<double>(m);
    Q_ASSERT_X(b != 0.0, "roundedRemainder", "divisor rounds to 0");
    if (b == 0.0 || !std::isfinite(a))
        return 0;
    // fmod is exact and keeps the sign of a, which is what a - b * trunc(a / b) means; the
    // product form would lose the low digits once a is beyond 2^53.
    return static_cast<int>(std::fmod(a, b));
}

QString hexDigits(double x)
{
    static const char digits[] = "0123456789ABCDEF";
    QString result;
    // An infinite value would never shrink below 16.
    if (!std::isfinite(x))
        return result;
    while (x > 0) {
        const int d = roundedRemainder(x, 16);
        result.prepend(QLatin1Char(digits[d]));
        x = std::floor(x / 16);
    }
    return result;
}

QString zeroPadded(const QString &s, int n)
{
    Q_ASSERT_X(n >= 0, "zeroPadded", "negative width");
    if (n < 0)
        n = 0;
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && s.at(end - 1) == QLatin1Char(' '))
        --end;
    const QString trimmed = s.mid(begin, end - begin);
    if (trimmed.size() < n)
        return QString(n - trimmed.size(), QLatin1Char('0')) + trimmed;
    return trimmed.right(n);
}

double textValue(const QString &text)
{
    qsizetype i = 0;
    const qsizetype size = text.size();
    auto isBlank = [](QChar c) {
        return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
               c == QLatin1Char('\n');
    };
    // Only ASCII digits count: QChar::isDigit would also accept other scripts' digits, which
    // toDouble then refuses.
    auto isDigit = [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    };

    while (i < size && isBlank(text.at(i)))
        ++i;
    const qsizetype start = i;
    if (i < size && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    qsizetype digitCount = 0;
    while (i < size && isDigit(text.at(i))) {
        ++i;
        ++digitCount;
    }
    if (i < size && text.at(i) == QLatin1Char('.')) {
        qsizetype afterPoint = i + 1;
        qsizetype fractionDigits = 0;
        while (afterPoint < size && isDigit(text.at(afterPoint))) {
            ++afterPoint;
            ++fractionDigits;
        }
        if (digitCount > 0 || fractionDigits > 0) {
            i = afterPoint;
            digitCount += fractionDigits;
        }
    }
    if (digitCount == 0)
        return 0.0;
    bool ok = false;
    const double value = text.mid(start, i - start).toDouble(&ok);
    return ok ? value : 0.0;
}

} // namespace irlearn
