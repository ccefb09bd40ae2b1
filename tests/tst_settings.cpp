#include "app/inifile.h"
#include "app/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace irlearn;

namespace {

QString u(const char *text)
{
    return QString::fromUtf8(text);
}

void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArrayLiteral("<unreadable>");
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries,
                                  QDir::Name | QDir::IgnoreCase);
}

// As saved by a Windows editor: CR LF, comments, blanks around names, blank lines between
// sections, and no line end after the last line.
const QByteArray windowsFile =
    QByteArrayLiteral("; saved by hand\r\n[Other]\r\nTXPort=keep me\r\n\r\n"
                      "[ setup ]\r\n  txport = COM2  \r\n"
                      ";TXsbID=comment\r\nExtra=a=b\r\n\r\n[Last]\r\nK=V");

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void read();
    void readCutsAt254Bytes();
    void writeKeepsEverythingElse();
    void writeNewFilesAndFlattening();
    void failedWriteLeavesNothingBehind();
    void settingsPaths();
};

void TestSettings::read()
{
    QTemporaryDir dir;
    const IniFile ini(dir.filePath(u("VexoSet.ini")));
    QCOMPARE(ini.read(u("Setup"), u("TXPort"), u("默认")), u("默认")); // no file

    putFile(ini.path(), windowsFile);
    QCOMPARE(ini.read(u("Nope"), u("TXPort"), u("d")), u("d"));
    QCOMPARE(ini.read(u("Setup"), u("Nope"), u("d")), u("d"));
    QCOMPARE(ini.read(u("Last"), u("TXPort"), u("d")), u("d"));  // another section's key
    QCOMPARE(ini.read(u("Setup"), u("TXsbID"), u("d")), u("d")); // commented out
    QCOMPARE(ini.read(u("SETUP"), u("TXPORT"), QString()), u("COM2"));
    QCOMPARE(ini.read(u("other"), u("txport"), QString()), u("keep me"));
    QCOMPARE(ini.read(u("Setup"), u("extra"), QString()), u("a=b"));
    QCOMPARE(ini.read(u("Last"), u("K"), QString()), u("V"));

    // A byte-order mark does not hide the first section; present but empty is not missing.
    putFile(ini.path(), QByteArrayLiteral("\xEF\xBB\xBF[Setup]\nTXPort=\xE4\xB8\xAD"
                                          "1\nTXsbID=\n"));
    QCOMPARE(ini.read(u("Setup"), u("TXPort"), QString()), u("中1"));
    QCOMPARE(ini.read(u("Setup"), u("TXsbID"), u("d")), QString());
}

void TestSettings::readCutsAt254Bytes()
{
    QTemporaryDir dir;
    IniFile ini(dir.filePath(u("VexoSet.ini")));
    const QString exact(254, QLatin1Char('x'));
    const QString longer(300, QLatin1Char('y'));
    const QString wide = u("中").repeated(100); // 3 bytes each: byte 254 is inside the 85th
    QVERIFY(ini.write(u("S"), u("exact"), exact));
    QVERIFY(ini.write(u("S"), u("longer"), longer));
    QVERIFY(ini.write(u("S"), u("wide"), wide));
    QVERIFY(fileBytes(ini.path()).contains(longer.toLatin1())); // only the reader cuts

    QCOMPARE(ini.read(u("S"), u("exact"), QString()), exact);
    QCOMPARE(ini.read(u("S"), u("longer"), QString()), longer.left(254));
    QCOMPARE(ini.read(u("S"), u("wide"), QString()), wide.left(84));
}

void TestSettings::writeKeepsEverythingElse()
{
    QTemporaryDir dir;
    IniFile ini(dir.filePath(u("VexoSet.ini")));
    putFile(ini.path(), windowsFile);
    QByteArray expected = windowsFile;

    QVERIFY(ini.write(u("Setup"), u("TXPort"), u("COM5")));
    expected.replace("  txport = COM2  \r\n", "txport=COM5\r\n");
    QCOMPARE(fileBytes(ini.path()), expected);

    // A new key follows the section's last non-blank line, before the blank separator.
    QVERIFY(ini.write(u("Setup"), u("TXsbID"), u("0002")));
    expected.replace("Extra=a=b\r\n", "Extra=a=b\r\nTXsbID=0002\r\n");
    QCOMPARE(fileBytes(ini.path()), expected);

    QVERIFY(ini.write(u("Last"), u("K2"), u("v2")));
    QVERIFY(ini.write(u("New"), u("A"), u("1")));
    expected += "\r\nK2=v2\r\n\r\n[New]\r\nA=1\r\n";
    QCOMPARE(fileBytes(ini.path()), expected);

    // A file with LF line ends keeps them.
    putFile(ini.path(), QByteArrayLiteral("[Setup]\n\n"));
    QVERIFY(ini.write(u("Setup"), u("TXPort"), u("COM1")));
    QVERIFY(ini.write(u("Ports"), u("COM1"), u("/dev/x")));
    QCOMPARE(fileBytes(ini.path()),
             QByteArrayLiteral("[Setup]\nTXPort=COM1\n\n[Ports]\nCOM1=/dev/x\n"));
}

void TestSettings::writeNewFilesAndFlattening()
{
    QTemporaryDir dir;
    IniFile ini(dir.filePath(u("VexoSet.ini")));
    QVERIFY(ini.write(u("Setup"), u("TXPort"), u("COM3")));
    QCOMPARE(fileBytes(ini.path()), QByteArrayLiteral("[Setup]\r\nTXPort=COM3\r\n"));

    QVERIFY(ini.write(u("Setup"), u("TXsbID"), u("a\r\nb\rc\nd")));
    QVERIFY(ini.write(u("setup"), u("txport"), u("\nX")));
    QCOMPARE(fileBytes(ini.path()),
             QByteArrayLiteral("[Setup]\r\nTXPort= X\r\nTXsbID=a  b c d\r\n"));
    QCOMPARE(ini.read(u("Setup"), u("TXsbID"), QString()), u("a  b c d"));
}

void TestSettings::failedWriteLeavesNothingBehind()
{
    QTemporaryDir dir;
    // A folder whose name a file holds: no write can succeed there, not even as root.
    const QString blocker = dir.filePath(u("blocker"));
    putFile(blocker, QByteArrayLiteral("not a folder"));
    QVERIFY(!IniFile(blocker + u("/VexoSet.ini")).write(u("Setup"), u("TXPort"), u("C")));
    Settings(blocker + u("/VexoSet.ini")).Ini_Write(u("Setup"), u("TXPort"), u("C"));
    QCOMPARE(fileBytes(blocker), QByteArrayLiteral("not a folder"));
    QCOMPARE(entries(dir.path()), QStringList{u("blocker")});

    // A full disk, as a file size limit that binds root too: the old file must survive whole.
    const QString path = dir.filePath(u("VexoSet.ini"));
    putFile(path, windowsFile);
    rlimit saved{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    rlimit small = saved;
    small.rlim_cur = 64;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    const bool written = IniFile(path).write(u("Setup"), u("TXPort"), u("COM9"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!written);
    QCOMPARE(fileBytes(path), windowsFile);
    QCOMPARE(entries(dir.path()), (QStringList{u("blocker"), u("VexoSet.ini")}));
}

void TestSettings::settingsPaths()
{
    QCOMPARE(Settings::pathIn(u("C:\\")), u("C:\\VexoSet.ini"));
    QCOMPARE(Settings::pathIn(u("D:\\Tools")), u("D:\\Tools\\VexoSet.ini"));
    QCOMPARE(Settings::pathIn(u("/")), u("/VexoSet.ini"));
    QCOMPARE(Settings::pathIn(u("/opt/x")), u("/opt/x/VexoSet.ini"));
    QCOMPARE(Settings::pathIn(u("/opt/x/")), u("/opt/x/VexoSet.ini"));
    // The test's own folder is writable, so its settings stay beside it.
    QCOMPARE(Settings::standard().path(),
             QCoreApplication::applicationDirPath() + u("/VexoSet.ini"));

    QTemporaryDir dir;
    Settings settings(Settings::pathIn(dir.path()));
    settings.Ini_Write(Settings::setupSection, Settings::deviceKey, u("0007"));
    QCOMPARE(Settings(settings.path()).Ini_Read(u("setup"), u("txsbid"), u("-")), u("0007"));
    QCOMPARE(settings.Ini_Read(Settings::setupSection, Settings::portKey, QString()), QString());
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
