#include "app/numtext.h"

#include <QtTest>

using namespace irlearn;

class TestNumText : public QObject
{
    Q_OBJECT

private slots:
    void numMod();
    void numToHex_data();
    void numToHex();
    void zeroPadAndByteHex();
    void textValue_data();
    void textValue();
};

void TestNumText::numMod()
{
    QCOMPARE(Num_Mod(255, 16), 15);
    QCOMPARE(Num_Mod(-17, 16), -1); // truncated division: the sign of x, not 15
    QCOMPARE(Num_Mod(2.5, 16), 3);  // halves go up
    QCOMPARE(Num_Mod(-2.5, 16), -2);
    QCOMPARE(Num_Mod(15.4, 16), 15);
    QCOMPARE(Num_Mod(15.5, 16), 0);
    QCOMPARE(Num_Mod(1099511627781.0, 16), 5); // 2^40 + 5
}

void TestNumText::numToHex_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0.0 << QString();
    QTest::newRow("negative") << -1.0 << QString();
    QTest::newRow("ten") << 10.0 << QStringLiteral("A");
    QTest::newRow("255") << 255.0 << QStringLiteral("FF");
    QTest::newRow("4096") << 4096.0 << QStringLiteral("1000");
    QTest::newRow("15.5 only lowest digit rounds") << 15.5 << QStringLiteral("0");
    QTest::newRow("31.5") << 31.5 << QStringLiteral("10");
    QTest::newRow("2^32") << 4294967296.0 << QStringLiteral("100000000");
    QTest::newRow("2^40 + 0xABC") << 1099511630524.0 << QStringLiteral("10000000ABC");
}

void TestNumText::numToHex()
{
    QFETCH(double, x);
    QFETCH(QString, expected);
    QCOMPARE(Num_ToHex(x), expected);
}

void TestNumText::zeroPadAndByteHex()
{
    QCOMPARE(Str_ZeroPad(QString(), 2), QStringLiteral("00"));
    QCOMPARE(Str_ZeroPad(QStringLiteral(" 12 "), 4), QStringLiteral("0012"));
    QCOMPARE(Str_ZeroPad(QStringLiteral("ab"), 4), QStringLiteral("00ab"));
    QCOMPARE(Str_ZeroPad(QStringLiteral("abcdef"), 4), QStringLiteral("cdef"));
    QCOMPARE(Str_ZeroPad(QStringLiteral("\t1 "), 4), QStringLiteral("00\t1")); // spaces only
    QCOMPARE(Str_ZeroPad(QStringLiteral(" 1 2 "), 4), QStringLiteral("01 2"));
    QCOMPARE(Str_ZeroPad(QStringLiteral("12"), 0), QString());
    QCOMPARE(Str_ZeroPad(QStringLiteral("中文"), 3), QStringLiteral("0中文"));

    for (int v = 0; v < 256; ++v) {
        const QString hex = byteHex(v);
        QCOMPARE(hex, hex.toUpper());
        QCOMPARE(hex.size(), 2);
        QCOMPARE(hex.toInt(nullptr, 16), v);
    }
    QCOMPARE(byteHex(256), QStringLiteral("00"));
    QCOMPARE(byteHex(0x1AB), QStringLiteral("AB"));
}

void TestNumText::textValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("letters") << QStringLiteral("abcd") << 0.0;
    QTest::newRow("sign only") << QStringLiteral("-") << 0.0;
    QTest::newRow("point only") << QStringLiteral(".") << 0.0;
    QTest::newRow("blanks and zeros") << QStringLiteral(" \t0012") << 12.0;
    QTest::newRow("trailing text") << QStringLiteral("12abc") << 12.0;
    QTest::newRow("fraction") << QStringLiteral("1.5") << 1.5;
    QTest::newRow("fraction only") << QStringLiteral(".25x") << 0.25;
    QTest::newRow("point, no fraction") << QStringLiteral("7.") << 7.0;
    QTest::newRow("signs") << QStringLiteral("-3.5") << -3.5;
    QTest::newRow("second point stops") << QStringLiteral("+1.2.3") << 1.2;
    QTest::newRow("blank after sign") << QStringLiteral("- 5") << 0.0;
    QTest::newRow("fullwidth digit") << QStringLiteral("１2") << 0.0;
}

void TestNumText::textValue()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(irlearn::textValue(text), expected);
}

QTEST_GUILESS_MAIN(TestNumText)
#include "tst_numtext.moc"
