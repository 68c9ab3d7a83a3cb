// The install progress parser.

#include "update/firmwareupdater.h"

#include <QtTest>

using namespace Strobix;

class TestProgress : public QObject
{
    Q_OBJECT

private slots:
    void progressIn_data();
    void progressIn();
    void splitAtEveryPosition();
};

void TestProgress::progressIn_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");

    QTest::newRow("bracket blank 100") << "Download\t[=========================] 100%" << 100;
    QTest::newRow("two blanks 45 then text") << "Download\t[===      ]  45%         4096 bytes" << 45;
    QTest::newRow("three bars in one piece") << "\rX [=  ]  12%\rX [== ]  37%\rX [===]  80%" << 80;
    QTest::newRow("100 alone, sign at index 3") << "100%" << -1;
    QTest::newRow("one char before 100") << " 100%" << 100;
    QTest::newRow("101") << "Download ] 101%" << -1;
    QTest::newRow("minus sign") << "Download ]  -5%" << -1;
    QTest::newRow("plus sign") << "Download ]  +5%" << 5;
    QTest::newRow("two blanks 5") << "Erase   \t[          ]   5%" << 5;
    QTest::newRow("no percent") << "Download done.\n" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("letters before percent") << "Download abc%" << -1;
    QTest::newRow("digit and letters") << "Download 1a2%" << -1;
    QTest::newRow("last percent wins even if unusable") << "x  50% then x 999%" << -1;
    QTest::newRow("line feed inside the figure") << "Download\n 5%" << 5;
    QTest::newRow("zero") << "Erase   \t[ ]   0%" << 0;
    QTest::newRow("full-width digits") << QString::fromUtf8("Download \xef\xbc\x95\xef\xbc\x90%") << -1;
}

void TestProgress::progressIn()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    QCOMPARE(FirmwareUpdater::progressIn(text), expected);
}

// The tool's output reaches the parser in pieces cut anywhere. One piece alone
// cannot show a figure cut in two (log() joins the open line with the next
// piece for that), but no cut may ever produce a figure that the tool did not
// print.
void TestProgress::splitAtEveryPosition()
{
    const QString output = QStringLiteral("\rDownload\t[====================     ]  80%        40960 bytes"
                                          "\rDownload\t[=========================] 100%        51200 bytes");
    const int lastFigure = output.lastIndexOf(QLatin1String("100%"));
    for (int cut = 0; cut <= output.size(); ++cut) {
        for (const QString &piece : {output.left(cut), output.mid(cut)}) {
            const int value = FirmwareUpdater::progressIn(piece);
            QVERIFY2(value == -1 || value == 80 || value == 100,
                     qPrintable(QStringLiteral("cut %1 gave %2").arg(cut).arg(value)));
        }
        // Whole figures are never lost.
        if (cut <= lastFigure - 1 || cut >= lastFigure + 4)
            QCOMPARE(qMax(FirmwareUpdater::progressIn(output.mid(cut)),
                          FirmwareUpdater::progressIn(output.left(cut))), 100);
    }
}

QTEST_APPLESS_MAIN(TestProgress)
#include "tst_progress.moc"
