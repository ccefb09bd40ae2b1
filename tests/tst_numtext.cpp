// The number and text helpers: hex digits with exact half-up rounding up to 2^53, zero padding,
// and the value at the start of a text.
#include "base/numtext.h"

#include <QtTest>

using namespace irlearn;

class TestNumText : public QObject
{
    Q_OBJECT

private slots:
    void hexDigits()
    {
        QCOMPARE(Num_Mod(255, 16), 15);
        QCOMPARE(Num_Mod(-17, 16), -1); // truncated division: the sign of x, not 15
        QCOMPARE(Num_Mod(2.5, 16), 3);  // halves go up
        QCOMPARE(Num_Mod(-2.5, 16), -2);
        QCOMPARE(Num_Mod(1099511627781.0, 16), 5); // 2^40 + 5: beyond int, still exact
        // Between 2^52 and 2^53 an odd integer plus one half is not a double: no rounding by sum.
        QCOMPARE(Num_Mod(4503599627370497.0, 16), 1);  // 2^52 + 1
        QCOMPARE(Num_Mod(9007199254740991.0, 16), 15); // 2^53 - 1
        QCOMPARE(Num_Mod(0.49999999999999994, 16), 0); // the largest double below one half

        QCOMPARE(Num_ToHex(0), QString());
        QCOMPARE(Num_ToHex(-1), QString());
        QCOMPARE(Num_ToHex(255), QStringLiteral("FF"));
        QCOMPARE(Num_ToHex(15.5), QStringLiteral("0")); // only the lowest digit sees the rounding
        QCOMPARE(Num_ToHex(31.5), QStringLiteral("10"));
        QCOMPARE(Num_ToHex(4503599627370497.0), QStringLiteral("10000000000001"));
        QCOMPARE(Num_ToHex(9007199254740991.0), QStringLiteral("1FFFFFFFFFFFFF"));
        QCOMPARE(byteHex(0x1AB), QStringLiteral("AB"));
    }

    void zeroPad()
    {
        QCOMPARE(Str_ZeroPad(QString(), 2), QStringLiteral("00"));
        QCOMPARE(Str_ZeroPad(QStringLiteral(" 12 "), 4), QStringLiteral("0012"));
        QCOMPARE(Str_ZeroPad(QStringLiteral("abcdef"), 4), QStringLiteral("cdef"));
        // Only spaces are trimmed, and only at the ends.
        QCOMPARE(Str_ZeroPad(QStringLiteral("\t1 "), 4), QStringLiteral("00\t1"));
        QCOMPARE(Str_ZeroPad(QStringLiteral(" 1 2 "), 4), QStringLiteral("01 2"));
        QCOMPARE(Str_ZeroPad(QStringLiteral("中文"), 3), QStringLiteral("0中文"));
    }

    void textValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("sign only") << QStringLiteral("-") << 0.0;
        QTest::newRow("point only") << QStringLiteral(".") << 0.0;
        QTest::newRow("blanks and zeros") << QStringLiteral(" \t0012") << 12.0;
        QTest::newRow("trailing text") << QStringLiteral("12abc") << 12.0;
        QTest::newRow("fraction only") << QStringLiteral(".25x") << 0.25;
        QTest::newRow("point, no fraction") << QStringLiteral("7.") << 7.0;
        QTest::newRow("negative") << QStringLiteral("-3.5") << -3.5;
        QTest::newRow("second point stops") << QStringLiteral("+1.2.3") << 1.2;
        QTest::newRow("blank after sign") << QStringLiteral("- 5") << 0.0;
        QTest::newRow("fullwidth digit") << QStringLiteral("１2") << 0.0;
    }
    void textValue()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(irlearn::textValue(text), expected);
    }
};

QTEST_GUILESS_MAIN(TestNumText)
#include "tst_numtext.moc"
