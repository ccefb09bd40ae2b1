// The settings file: Windows private-profile reads and writes that keep everything else, a full
// disk, read once and shared, and odd files (too big, devices) left alone. Line breaks in values
// and values cut to 254 bytes without splitting a character, and a byte-order mark inside a
// value, are replayed by the settings fuzz target's corpus (breaks, long-wide, bom-value).
#include "base/inifile.h"
#include "base/settings.h"
#include "support/filesizelimit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace irlearn;
using namespace Qt::StringLiterals;

namespace {

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
    void read()
    {
        QTemporaryDir dir;
        IniFile ini(dir.filePath(u"VexoSet.ini"_s));
        QCOMPARE(ini.read(u"Setup"_s, u"TXPort"_s, u"默认"_s), u"默认"_s); // no file

        putFile(ini.path(), windowsFile);
        QCOMPARE(ini.read(u"Nope"_s, u"TXPort"_s, u"d"_s), u"d"_s);
        QCOMPARE(ini.read(u"Setup"_s, u"Nope"_s, u"d"_s), u"d"_s);
        QCOMPARE(ini.read(u"Setup"_s, u"TXsbID"_s, u"d"_s), u"d"_s); // commented out
        QCOMPARE(ini.read(u"SETUP"_s, u"TXPORT"_s, QString()), u"COM2"_s);
        QCOMPARE(ini.read(u"Setup"_s, u"extra"_s, QString()), u"a=b"_s);
        QCOMPARE(ini.read(u"Last"_s, u"K"_s, QString()), u"V"_s);

        // A byte-order mark does not hide the first section; present but empty is not missing.
        putFile(ini.path(), QByteArrayLiteral("\xEF\xBB\xBF[Setup]\nTXPort=\xE4\xB8\xAD"
                                              "1\nTXsbID=\n"));
        QCOMPARE(ini.read(u"Setup"_s, u"TXPort"_s, QString()), u"中1"_s);
        QCOMPARE(ini.read(u"Setup"_s, u"TXsbID"_s, u"d"_s), QString());
    }

    void writeKeepsEverythingElse()
    {
        QTemporaryDir dir;
        IniFile ini(dir.filePath(u"VexoSet.ini"_s));
        putFile(ini.path(), windowsFile);
        QByteArray expected = windowsFile;

        QVERIFY(ini.write(u"Setup"_s, u"TXPort"_s, u"COM5"_s));
        expected.replace("  txport = COM2  \r\n", "txport=COM5\r\n");
        QCOMPARE(fileBytes(ini.path()), expected);

        // A new key follows the section's last non-blank line, before the blank separator.
        QVERIFY(ini.write(u"Setup"_s, u"TXsbID"_s, u"0002"_s));
        expected.replace("Extra=a=b\r\n", "Extra=a=b\r\nTXsbID=0002\r\n");
        QCOMPARE(fileBytes(ini.path()), expected);

        QVERIFY(ini.write(u"Last"_s, u"K2"_s, u"v2"_s));
        QVERIFY(ini.write(u"New"_s, u"A"_s, u"1"_s));
        expected += "\r\nK2=v2\r\n\r\n[New]\r\nA=1\r\n";
        QCOMPARE(fileBytes(ini.path()), expected);

        // A file with LF line ends keeps them.
        putFile(ini.path(), QByteArrayLiteral("[Setup]\n\n"));
        QVERIFY(ini.write(u"Setup"_s, u"TXPort"_s, u"COM1"_s));
        QVERIFY(ini.write(u"Ports"_s, u"COM1"_s, u"/dev/x"_s));
        QCOMPARE(fileBytes(ini.path()),
                 QByteArrayLiteral("[Setup]\nTXPort=COM1\n\n[Ports]\nCOM1=/dev/x\n"));

        // A full disk, as a file size limit that binds root too: the old file survives whole.
        putFile(ini.path(), windowsFile);
        QCOMPARE(writtenUnder(64, [&] { return ini.write(u"Setup"_s, u"TXPort"_s, u"COM9"_s); }),
                 false);
        QCOMPARE(fileBytes(ini.path()), windowsFile);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u"VexoSet.ini"_s});
    }

    void settingsPaths()
    {
        QCOMPARE(Settings::pathIn(u"D:\\Tools"_s), u"D:\\Tools\\VexoSet.ini"_s);
        QCOMPARE(Settings::pathIn(u"C:\\"_s), u"C:\\VexoSet.ini"_s);
        // The test's own folder is writable, so its settings stay beside it.
        QCOMPARE(Settings::standard().path(),
                 QCoreApplication::applicationDirPath() + u"/VexoSet.ini"_s);
    }

    void settingsReadOnceAndShared()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"VexoSet.ini"_s);
        putFile(path, windowsFile);
        const Settings settings(path);
        QCOMPARE(settings.problem(), QString());
        QCOMPARE(settings.readValue(u"Setup"_s, u"TXPort"_s, QString()), u"COM2"_s);

        // Read once: a later change on disk is not seen by reads...
        const QByteArray changed = QByteArrayLiteral("[Setup]\nTXPort=COM7\nTXsbID=0009\n");
        putFile(path, changed);
        QCOMPARE(settings.readValue(u"Setup"_s, u"TXPort"_s, QString()), u"COM2"_s);

        // ...but a write goes into the file as it is now, and every copy sees it at once.
        Settings copy = settings;
        copy.writeValue(u"Setup"_s, u"TXPort"_s, u"COM3"_s);
        QCOMPARE(fileBytes(path), QByteArrayLiteral("[Setup]\nTXPort=COM3\nTXsbID=0009\n"));
        QCOMPARE(settings.readValue(u"Setup"_s, u"TXPort"_s, QString()), u"COM3"_s);
        QCOMPARE(settings.readValue(u"Setup"_s, u"TXsbID"_s, QString()), u"0009"_s);

        // No file yet: no problem, and the first write makes it.
        const Settings fresh(dir.filePath(u"new.ini"_s));
        QCOMPARE(fresh.problem(), QString());
        Settings(fresh).writeValue(u"Setup"_s, u"TXsbID"_s, u"0001"_s);
        QCOMPARE(fileBytes(fresh.path()), QByteArrayLiteral("[Setup]\r\nTXsbID=0001\r\n"));
    }

    // A file too big to be ours, and a link to a device that would take any write. (The reasons
    // for pipes, link loops and folders are the file reader's, told in tst_codefile.)
    void oddFilesLeftAlone()
    {
        QTemporaryDir dir;
        const QString big = dir.filePath(u"big.ini"_s);
        const QString zero = dir.filePath(u"zero.ini"_s);
        const QByteArray bigBytes =
            QByteArrayLiteral("[Setup]\r\nTXPort=COM4\r\n") + QByteArray(IniFile::maxFileSize, ';');
        putFile(big, bigBytes);
        QVERIFY(QFile::link(u"/dev/zero"_s, zero));
        const struct
        {
            QString path;
            QString reason;
        } cases[] = {{big, u"文件过大"_s}, {zero, u"这是设备文件，不是普通文件"_s}};
        for (const auto &c : cases) {
            const QString &path = c.path;
            Settings settings(path);
            QCOMPARE(settings.problem(), u"设置文件未使用：%1（%2）"_s.arg(path, c.reason));
            QCOMPARE(settings.readValue(u"Setup"_s, u"TXPort"_s, u"默认"_s), u"默认"_s);
            // Used as if absent, but what is written stays in memory for the rest of the run.
            settings.writeValue(u"Setup"_s, u"TXPort"_s, u"COM1"_s);
            QCOMPARE(settings.readValue(u"Setup"_s, u"TXPort"_s, QString()), u"COM1"_s);
            QVERIFY(!IniFile(path).write(u"Setup"_s, u"TXsbID"_s, u"0001"_s));
            QCOMPARE(IniFile(path).read(u"Setup"_s, u"TXPort"_s, u"d"_s), u"d"_s);

            // Not replaced by a file of ours (the big one's bytes: below).
            QCOMPARE(QFileInfo(path).isSymLink(), path == zero);
        }
        QCOMPARE(fileBytes(big), bigBytes);
        // Nothing was left behind by an abandoned write.
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden)
                .size(),
            2);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
