#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>

#include "common/date_time_format.h"
#include "common/errors.h"
#include "common/instance_lock.h"
#include "common/text_file.h"
#include "support/temp_workspace.h"

class CommonTest : public QObject {
    Q_OBJECT

  private slots:
    void encodingKeepsEveryByte();
    void readingPieceByPieceGivesTheSameText_data();
    void readingPieceByPieceGivesTheSameText();
    void fileFailuresNameFileAndReason();
    void appendingAddsAfterOldContent();
    void oneProgramPerWorkspace();
    void dateTimeFormat_data();
    void dateTimeFormat();
    void dateTimeFormatInEveryLocale();
};

void CommonTest::encodingKeepsEveryByte() {
    const QByteArray utf8 = "caf\xc3\xa9 \xe2\x82\xac";
    QCOMPARE(decodeText(utf8), QStringLiteral(u"café €"));
    QCOMPARE(encodeText(decodeText(utf8)), utf8);

    // Not UTF-8: every byte becomes one character, and NUL bytes survive.
    QByteArray binary("\xff\xfe\x00\x01srv\xe9\x0d\x0a", 10);
    const QString latin = decodeText(binary);
    QCOMPARE(latin.size(), binary.size());
    QCOMPARE(latin.toLatin1(), binary);

    // A byte order mark is part of the file and is kept.
    const QByteArray bom = "\xef\xbb\xbfweb01";
    QCOMPARE(encodeText(decodeText(bom)), bom);
}

void CommonTest::readingPieceByPieceGivesTheSameText_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("storageLargeEnough");
    QTest::addColumn<bool>("utf8");
    constexpr int kPiece = 1024 * 1024;  // how much one read takes
    const QByteArray ascii = QByteArray("web01\r\nweb02\n").repeated(200000);
    QTest::newRow("empty") << QByteArray() << true << true;
    QTest::newRow("ascii") << ascii << true << true;
    QTest::newRow("ascii, small storage") << ascii << false << true;
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbfweb01\n") << true << true;
    // Characters of two, three and four bytes cut by the end of a read at every place.
    for (const QByteArray& character :
         {QByteArray("\xc3\xa9"), QByteArray("\xe2\x82\xac"), QByteArray("\xf0\x9f\x96\xa5")}) {
        for (int before = 1; before <= character.size(); ++before) {
            QByteArray text(kPiece - before, 'a');
            text += character.repeated(3) + "\nweb02\n";
            QTest::addRow("%d-byte character at %d", int(character.size()), before)
                << text << true << true;
        }
    }
    // Not UTF-8, so taken as Latin-1: within a piece, and a character cut short by the
    // end of the file.
    QTest::newRow("not UTF-8") << QByteArray(kPiece + 10, 'a') + "srv\xe9\n" << true << false;
    QTest::newRow("cut short at the end") << QByteArray(kPiece, 'a') + "\xe2\x82" << true << false;
}

// The launch reads its spool file back piece by piece into memory it has; the text must
// be exactly what reading the file whole gives, and for UTF-8 in that same memory.
void CommonTest::readingPieceByPieceGivesTheSameText() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, storageLargeEnough);
    QFETCH(bool, utf8);
    TempWorkspace ws;
    ws.write(QStringLiteral("temp/spool.txt"), bytes);
    const QString path = ws.path(QStringLiteral("temp/spool.txt"));
    const QString whole = readWholeFile(path, std::numeric_limits<qint64>::max());
    QString storage(storageLargeEnough ? bytes.size() + 1 : 10, u'x');
    const QChar* memory = storage.constData();
    const QString pieces = readWholeFileInto(path, std::move(storage));
    QCOMPARE(pieces.size(), whole.size());
    QVERIFY(pieces == whole);
    if (storageLargeEnough && !bytes.isEmpty())
        QCOMPARE(pieces.constData() == memory, utf8);
}

void CommonTest::fileFailuresNameFileAndReason() {
    TempWorkspace ws;
    const QString missing = ws.path(QStringLiteral("collections/gone.txt"));
    try {
        readWholeFile(missing);
        QFAIL("reading a missing file did not fail");
    } catch (const OperationError& error) {
        QCOMPARE(
            error.message(),
            QStringLiteral("Cannot open %1 for reading: No such file or directory").arg(missing));
    }

    const QString folder = ws.path(QStringLiteral("logs"));
    try {
        OutputFile file(folder, OutputFile::Mode::Append);
        QFAIL("appending to a folder did not fail");
    } catch (const OperationError& error) {
        QCOMPARE(error.message(),
                 QStringLiteral("Cannot open %1 for appending: Is a directory").arg(folder));
    }

    // One byte over the limit is refused before anything is read.
    const QString large = ws.path(QStringLiteral("collections/large.txt"));
    {
        QFile file(large);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(kMaxLoadBytes + 1));
    }
    try {
        readWholeFile(large);
        QFAIL("a file over the limit was loaded");
    } catch (const OperationError& error) {
        QCOMPARE(error.message(),
                 QStringLiteral("Cannot load %1: the file is 16.0 MiB, larger than the 16 MiB a "
                                "text box takes.")
                     .arg(large));
    }
    ws.write(QStringLiteral("collections/large.txt"), "small");
    QCOMPARE(readWholeFile(large), QStringLiteral("small"));
}

void CommonTest::appendingAddsAfterOldContent() {
    TempWorkspace ws;
    const QString path = ws.path(QStringLiteral("logs/log.txt"));
    writeWholeFile(path, u"one\n");
    {
        OutputFile file(path, OutputFile::Mode::Append);
        file.write(u"two\n");
        file.write(u"three\n");
        file.close();
    }
    QCOMPARE(ws.read(QStringLiteral("logs/log.txt")), QByteArray("one\ntwo\nthree\n"));
    writeWholeFile(path, u"new");
    QCOMPARE(ws.read(QStringLiteral("logs/log.txt")), QByteArray("new"));
}

void CommonTest::oneProgramPerWorkspace() {
    TempWorkspace ws;
    QByteArray heldLock;
    {
        InstanceLock first(ws.workspace());
        QVERIFY(first.acquire());
        InstanceLock second(ws.workspace());
        QVERIFY(!second.acquire());
        QCOMPARE(second.refusal(),
                 QStringLiteral("Corvane is already running in this folder (process %1).")
                     .arg(QCoreApplication::applicationPid()));
        heldLock = ws.read(QStringLiteral(".corvane.lock"));
    }

    // The same lock left behind by a program that has died does not stand in the way.
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    QByteArray stale = heldLock;
    stale.replace(0, stale.indexOf('\n'), QByteArray::number(child));
    ws.write(QStringLiteral(".corvane.lock"), stale);
    {
        InstanceLock next(ws.workspace());
        QVERIFY2(next.acquire(), qPrintable(next.refusal()));
        QCOMPARE(InstanceLock::holder(ws.workspace()), QCoreApplication::applicationPid());
    }
    QCOMPARE(InstanceLock::holder(ws.workspace()), 0);

    // Empty, as a power cut between creating and writing it leaves it: taken over once it
    // is old, left alone while a program may be writing it.
    ws.write(QStringLiteral(".corvane.lock"), QByteArray());
    QVERIFY(!InstanceLock(ws.workspace()).acquire());
    QFile left(ws.path(QStringLiteral(".corvane.lock")));
    QVERIFY(left.open(QIODevice::ReadWrite));
    QVERIFY(left.setFileTime(QDateTime::currentDateTime().addDays(-2),
                             QFileDevice::FileModificationTime));
    left.close();
    QCOMPARE(InstanceLock::holder(ws.workspace()), 0);
    InstanceLock afterPowerCut(ws.workspace());
    QVERIFY2(afterPowerCut.acquire(), qPrintable(afterPowerCut.refusal()));
}

void CommonTest::dateTimeFormat_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("text");
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    const QDate day(2026, 12, 6);
    QTest::newRow("us morning") << us << QDateTime(day, QTime(5, 21, 13)) << "12/6/2026 5:21:13 AM";
    QTest::newRow("us evening") << us << QDateTime(day, QTime(17, 2, 3)) << "12/6/2026 5:02:03 PM";
    QTest::newRow("us midnight") << us << QDateTime(day, QTime(0, 0, 0)) << "12/6/2026";
    QTest::newRow("us one second past")
        << us << QDateTime(day, QTime(0, 0, 1)) << "12/6/2026 12:00:01 AM";
    QTest::newRow("de") << de << QDateTime(day, QTime(5, 21, 13)) << "06.12.2026 05:21:13";
    QTest::newRow("c") << QLocale::c() << QDateTime(day, QTime(5, 21, 13)) << "6 Dec 2026 05:21:13";
}

void CommonTest::dateTimeFormat() {
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);
    QCOMPARE(formatLogDateTime(locale, moment), text);
}

void CommonTest::dateTimeFormatInEveryLocale() {
    const QDate day(2026, 12, 6);
    const QDateTime evening(day, QTime(17, 21, 13));
    const QList<QLocale> locales =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    QVERIFY(locales.size() > 300);
    for (const QLocale& locale : locales) {
        const QString text = formatLogDateTime(locale, evening);
        const QString where = locale.name() + QStringLiteral(": ") + text;
        const QString zone = locale.toString(evening, QStringLiteral("t"));
        QVERIFY2(zone.isEmpty() || !text.contains(zone), qPrintable(where));
        for (const char* leftOver : {"()", "[]", "( )", "[ ]", ",,", "  "})
            QVERIFY2(!text.contains(QLatin1String(leftOver)), qPrintable(where));
        QVERIFY2(!text.endsWith(u',') && !text.endsWith(u' ') && !text.startsWith(u' '),
                 qPrintable(where));
        QVERIFY2(text.contains(locale.toString(day, QStringLiteral("yyyy"))), qPrintable(where));
        // At midnight the date alone, the same date the evening's text begins with.
        const QString midnight = formatLogDateTime(locale, QDateTime(day, QTime(0, 0)));
        QVERIFY2(text.startsWith(midnight + u' '), qPrintable(where + " / " + midnight));
    }
}

QTEST_GUILESS_MAIN(CommonTest)
#include "test_common.moc"
