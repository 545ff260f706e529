#include <QtTest>

#include "common/date_time_format.h"
#include "common/errors.h"
#include "common/text_file.h"
#include "support/temp_workspace.h"

class CommonTest : public QObject {
    Q_OBJECT

  private slots:
    void encodingKeepsEveryByte();
    void fileFailuresNameFileAndReason();
    void appendingAddsAfterOldContent();
    void lineReaderEndsLinesAtCrLfCrAndLf_data();
    void lineReaderEndsLinesAtCrLfCrAndLf();
    void lineReaderEndOfText();
    void nonEmptyLineSearch();
    void dateTimeFormat_data();
    void dateTimeFormat();
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
        AppendFile file(folder);
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
    QVERIFY_THROWS_EXCEPTION(FileTooLargeError, readWholeFile(large));
    ws.write(QStringLiteral("collections/large.txt"), "small");
    QCOMPARE(readWholeFile(large), QStringLiteral("small"));
}

void CommonTest::appendingAddsAfterOldContent() {
    TempWorkspace ws;
    const QString path = ws.path(QStringLiteral("logs/log.txt"));
    appendToFile(path, u"one\n");
    {
        AppendFile file(path);
        file.write(u"two\n");
        file.write(u"three\n");
        // closed by going out of scope
    }
    QCOMPARE(ws.read(QStringLiteral("logs/log.txt")), QByteArray("one\ntwo\nthree\n"));
    writeWholeFile(path, u"new");
    QCOMPARE(ws.read(QStringLiteral("logs/log.txt")), QByteArray("new"));
}

void CommonTest::lineReaderEndsLinesAtCrLfCrAndLf_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("lf") << "a\nb" << QStringList{"a", "b"};
    QTest::newRow("cr lf is one end") << "a\r\nb\r\n" << QStringList{"a", "b"};
    QTest::newRow("lone cr") << "a\rb" << QStringList{"a", "b"};
    QTest::newRow("mixed") << "a\r\n\rb\n\nc" << QStringList{"a", "", "b", "", "c"};
    QTest::newRow("lf cr is two ends") << "a\n\rb" << QStringList{"a", "", "b"};
    QTest::newRow("blanks kept") << " a \n\t" << QStringList{" a ", "\t"};
    QTest::newRow("trailing end adds no line") << "a\n" << QStringList{"a"};
    QTest::newRow("two trailing ends") << "a\n\n" << QStringList{"a", ""};
    QTest::newRow("empty") << "" << QStringList{};
}

void CommonTest::lineReaderEndsLinesAtCrLfCrAndLf() {
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    LineReader reader(text);
    QStringList read;
    while (!reader.atEnd())
        read.append(reader.readLine().toString());
    QCOMPARE(read, lines);
}

void CommonTest::lineReaderEndOfText() {
    // The end is reached as soon as the last line end has been read.
    LineReader reader(QStringLiteral("web01\r\n"));
    QVERIFY(!reader.atEnd());
    QCOMPARE(reader.readLine(), u"web01");
    QVERIFY(reader.atEnd());

    TempWorkspace ws;
    ws.write(QStringLiteral("temp/srvtemp.txt"), "x\ny");
    LineReader file = LineReader::fromFile(ws.path(QStringLiteral("temp/srvtemp.txt")));
    QCOMPARE(file.readLine(), u"x");
    QCOMPARE(file.readLine(), u"y");
    QVERIFY(file.atEnd());
}

void CommonTest::nonEmptyLineSearch() {
    QVERIFY(!hasNonEmptyLine(u""));
    QVERIFY(!hasNonEmptyLine(u"\r\n\n\r"));
    QVERIFY(hasNonEmptyLine(u"\n \n"));  // a blank is a server name
    QVERIFY(hasNonEmptyLine(u"web01"));
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

QTEST_GUILESS_MAIN(CommonTest)
#include "test_common.moc"
