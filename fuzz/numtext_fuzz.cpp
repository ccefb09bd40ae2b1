// The number and text helpers against an independent reckoning: rounding in long double (64-bit
// mantissa on x86, exact up to 2^62), hexadecimal through integer formatting.
#include "base/numtext.h"
#include "fuzzcheck.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

using namespace irlearn;

namespace {

template <typename T> T take(const uint8_t *&data, size_t &size)
{
    T value{};
    const size_t n = size < sizeof(T) ? size : sizeof(T);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

QString rest(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

void checkMod(double x, int m)
{
    if (m == 0 || !std::isfinite(x))
        return;
    const int r = roundedRemainder(x, m);
    FUZZ_CHECK(std::llabs(r) < std::llabs(static_cast<long long>(m)));
    if (std::fabs(x) < 0x1p62) {
        const long long a = static_cast<long long>(std::floor(static_cast<long double>(x) + 0.5L));
        FUZZ_CHECK(r == a % m);
    }
}

void checkHex(double x)
{
    const QString hex = hexDigits(x);
    if (!(x > 0) || !std::isfinite(x)) {
        FUZZ_CHECK(hex.isEmpty());
        return;
    }
    FUZZ_CHECK(!hex.isEmpty() && hex.size() <= 257);
    for (QChar c : hex)
        FUZZ_CHECK((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'));
    FUZZ_CHECK(hex == QLatin1String("0") || hex.at(0) != u'0');
    // A whole number comes back exactly.
    if (x == std::floor(x) && x < 0x1p64) {
        const auto n = static_cast<unsigned long long>(x);
        FUZZ_CHECK(hex == QString::number(n, 16).toUpper());
        bool ok = false;
        FUZZ_CHECK(hex.toULongLong(&ok, 16) == n && ok);
    }
}

void checkPad(const QString &s, int n)
{
    const QString padded = zeroPadded(s, n);
    FUZZ_CHECK(padded.size() == n);
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin) == u' ')
        ++begin;
    while (end > begin && s.at(end - 1) == u' ')
        --end;
    const QString trimmed = s.mid(begin, end - begin);
    if (trimmed.size() >= n) {
        FUZZ_CHECK(padded == trimmed.right(n));
    } else {
        FUZZ_CHECK(padded.endsWith(trimmed));
        for (qsizetype i = 0; i < n - trimmed.size(); ++i)
            FUZZ_CHECK(padded.at(i) == u'0');
    }
}

void checkValue(const QString &text, int n)
{
    const double v = textValue(text);
    FUZZ_CHECK(std::isfinite(v));
    FUZZ_CHECK(textValue(QLatin1String(" \t") + text) == v);
    FUZZ_CHECK(textValue(QString::number(n) + QLatin1Char('x') + text) == n);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto x = take<double>(data, size);
    const auto m = take<int32_t>(data, size);
    const auto n = take<uint16_t>(data, size);
    checkMod(x, m);
    checkMod(x, 16);
    checkMod(std::floor(x) + 0.5, m);
    checkHex(x);
    checkHex(std::fabs(std::trunc(x)));
    const QString text = rest(data, size);
    checkPad(text, n % 300);
    checkValue(text, m);
    return 0;
}
