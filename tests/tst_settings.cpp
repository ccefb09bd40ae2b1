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
        IniFile ini(dir.filePath(u("VexoSet.ini")));
        QCOMPARE(ini.read(u("Setup"), u("TXPort"), u("默认")), u("默认")); // no file

        putFile(ini.path(), windowsFile);
        QCOMPARE(ini.read(u("Nope"), u("TXPort"), u("d")), u("d"));
        QCOMPARE(ini.read(u("Setup"), u("Nope"), u("d")), u("d"));
        QCOMPARE(ini.read(u("Setup"), u("TXsbID"), u("d")), u("d")); // commented out
        QCOMPARE(ini.read(u("SETUP"), u("TXPORT"), QString()), u("COM2"));
        QCOMPARE(ini.read(u("Setup"), u("extra"), QString()), u("a=b"));
        QCOMPARE(ini.read(u("Last"), u("K"), QString()), u("V"));

        // A byte-order mark does not hide the first section; present but empty is not missing.
        putFile(ini.path(), QByteArrayLiteral("\xEF\xBB\xBF[Setup]\nTXPort=\xE4\xB8\xAD"
                                              "1\nTXsbID=\n"));
        QCOMPARE(ini.read(u("Setup"), u("TXPort"), QString()), u("中1"));
        QCOMPARE(ini.read(u("Setup"), u("TXsbID"), u("d")), QString());
    }

    void writeKeepsEverythingElse()
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

        // A full disk, as a file size limit that binds root too: the old file survives whole.
        putFile(ini.path(), windowsFile);
        QCOMPARE(writtenUnder(64, [&] { return ini.write(u("Setup"), u("TXPort"), u("COM9")); }),
                 false);
        QCOMPARE(fileBytes(ini.path()), windowsFile);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{u("VexoSet.ini")});
    }

    void settingsPaths()
    {
        QCOMPARE(Settings::pathIn(u("D:\\Tools")), u("D:\\Tools\\VexoSet.ini"));
        QCOMPARE(Settings::pathIn(u("C:\\")), u("C:\\VexoSet.ini"));
        // The test's own folder is writable, so its settings stay beside it.
        QCOMPARE(Settings::standard().path(),
                 QCoreApplication::applicationDirPath() + u("/VexoSet.ini"));
    }

    void settingsReadOnceAndShared()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u("VexoSet.ini"));
        putFile(path, windowsFile);
        const Settings settings(path);
        QCOMPARE(settings.problem(), QString());
        QCOMPARE(settings.readValue(u("Setup"), u("TXPort"), QString()), u("COM2"));

        // Read once: a later change on disk is not seen by reads...
        const QByteArray changed = QByteArrayLiteral("[Setup]\nTXPort=COM7\nTXsbID=0009\n");
        putFile(path, changed);
        QCOMPARE(settings.readValue(u("Setup"), u("TXPort"), QString()), u("COM2"));

        // ...but a write goes into the file as it is now, and every copy sees it at once.
        Settings copy = settings;
        copy.writeValue(u("Setup"), u("TXPort"), u("COM3"));
        QCOMPARE(fileBytes(path), QByteArrayLiteral("[Setup]\nTXPort=COM3\nTXsbID=0009\n"));
        QCOMPARE(settings.readValue(u("Setup"), u("TXPort"), QString()), u("COM3"));
        QCOMPARE(settings.readValue(u("Setup"), u("TXsbID"), QString()), u("0009"));

        // No file yet: no problem, and the first write makes it.
        const Settings fresh(dir.filePath(u("new.ini")));
        QCOMPARE(fresh.problem(), QString());
        Settings(fresh).writeValue(u("Setup"), u("TXsbID"), u("0001"));
        QCOMPARE(fileBytes(fresh.path()), QByteArrayLiteral("[Setup]\r\nTXsbID=0001\r\n"));
    }

    // A file too big to be ours, and a link to a device that would take any write. (The reasons
    // for pipes, link loops and folders are the file reader's, told in tst_codefile.)
    void oddFilesLeftAlone()
    {
        QTemporaryDir dir;
        const QString big = dir.filePath(u("big.ini"));
        const QString zero = dir.filePath(u("zero.ini"));
        const QByteArray bigBytes =
            QByteArrayLiteral("[Setup]\r\nTXPort=COM4\r\n") + QByteArray(IniFile::maxFileSize, ';');
        putFile(big, bigBytes);
        QVERIFY(QFile::link(u("/dev/zero"), zero));
        const struct
        {
            QString path;
            QString reason;
        } cases[] = {{big, u("文件过大")}, {zero, u("这是设备文件，不是普通文件")}};
        for (const auto &c : cases) {
            const QString &path = c.path;
            Settings settings(path);
            QCOMPARE(settings.problem(), u("设置文件未使用：%1（%2）").arg(path, c.reason));
            QCOMPARE(settings.readValue(u("Setup"), u("TXPort"), u("默认")), u("默认"));
            // Used as if absent, but what is written stays in memory for the rest of the run.
            settings.writeValue(u("Setup"), u("TXPort"), u("COM1"));
            QCOMPARE(settings.readValue(u("Setup"), u("TXPort"), QString()), u("COM1"));
            QVERIFY(!IniFile(path).write(u("Setup"), u("TXsbID"), u("0001")));
            QCOMPARE(IniFile(path).read(u("Setup"), u("TXPort"), u("d")), u("d"));

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
