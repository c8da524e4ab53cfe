#include "webpages/XmodemFrame.h"

#include <QtTest>

namespace {

// Image bytes that differ from their neighbours and from the padding, so a wrong offset shows.
QByteArray PatternImage(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 7 + i / 128) & 0x7F);
    return image;
}

int BlocksFor(int size)
{
    int counter = 1;
    while (!IsFinalBlock(counter, size))
        ++counter;
    return counter;
}

} // namespace

class TestXmodemFrame : public QObject
{
    Q_OBJECT

private slots:
    void firstTwoFrames_beginWithSohNumberAndComplement();
    void hundredByteImage_isOneBlockPaddedWithFF();
    void image256_sendsThreeBlocks_lastAllPadding();
    void image1000_progressFollowsBlockStart();
    void image32700_wireNumberWrapsWhileDataFollows();
    void blockCount_data();
    void blockCount();
    void emptyImage_oneBlockAndFullProgress();
};

void TestXmodemFrame::firstTwoFrames_beginWithSohNumberAndComplement()
{
    const QByteArray image = PatternImage(300);
    const QByteArray first = BuildImageBlock(image, 1);
    const QByteArray second = BuildImageBlock(image, 2);
    QCOMPARE(first.size(), 132);
    QCOMPARE(second.size(), 132);
    QCOMPARE(first.left(3), QByteArray("\x01\x01\xFE", 3));
    QCOMPARE(second.left(3), QByteArray("\x01\x02\xFD", 3));
    QCOMPARE(second.mid(3, 128), image.mid(128, 128));
}

void TestXmodemFrame::hundredByteImage_isOneBlockPaddedWithFF()
{
    QByteArray image(100, '\0');
    for (int i = 0; i < 100; ++i)
        image[i] = char(i + 1); // 1..100, sum 5050
    const QByteArray frame = BuildImageBlock(image, 1);

    QByteArray expected("\x01\x01\xFE", 3);
    expected += image;
    expected += QByteArray(28, char(0xFF));
    expected += char((5050 + 28 * 255) % 256);
    QCOMPARE(frame, expected);
    QVERIFY(IsFinalBlock(1, 100));
}

void TestXmodemFrame::image256_sendsThreeBlocks_lastAllPadding()
{
    const QByteArray image = PatternImage(256);
    QVERIFY(!IsFinalBlock(1, 256));
    QVERIFY(!IsFinalBlock(2, 256));
    QVERIFY(IsFinalBlock(3, 256));

    QByteArray third("\x01\x03\xFC", 3);
    third += QByteArray(128, char(0xFF));
    third += char(0x80);
    QCOMPARE(BuildImageBlock(image, 3), third);
    QCOMPARE(BlockProgress(3, 256), 100);
}

void TestXmodemFrame::image1000_progressFollowsBlockStart()
{
    QList<int> shown;
    int counter = 1;
    for (;; ++counter) {
        shown.append(BlockProgress(counter, 1000));
        if (IsFinalBlock(counter, 1000))
            break;
    }
    QCOMPARE(shown, (QList<int>{0, 12, 25, 38, 51, 64, 76, 89}));
}

void TestXmodemFrame::image32700_wireNumberWrapsWhileDataFollows()
{
    const QByteArray image = PatternImage(32700);
    QCOMPARE(BlocksFor(32700), 256);

    const QByteArray block255 = BuildImageBlock(image, 255);
    QCOMPARE(block255.left(3), QByteArray("\x01\xFF\x00", 3));
    QCOMPARE(block255.mid(3, 128), image.mid(254 * 128, 128));

    const QByteArray block256 = BuildImageBlock(image, 256);
    QCOMPARE(block256.left(3), QByteArray("\x01\x00\xFF", 3));
    QCOMPARE(block256.mid(3, 60), image.mid(255 * 128, 60));
    QCOMPARE(block256.mid(63, 68), QByteArray(68, char(0xFF)));

    quint8 sum = 0;
    for (int k = 3; k < 131; ++k)
        sum = quint8(sum + quint8(block256.at(k)));
    QCOMPARE(quint8(block256.at(131)), sum);
}

void TestXmodemFrame::blockCount_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("blocks");
    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("one byte") << 1 << 1;
    QTest::newRow("one short of a block") << 127 << 1;
    QTest::newRow("exactly one block") << 128 << 2;
    QTest::newRow("one over a block") << 129 << 2;
    QTest::newRow("1000 bytes") << 1000 << 8;
    QTest::newRow("largest with one-byte numbers") << 32511 << 254;
    QTest::newRow("largest image") << 32700 << 256;
}

void TestXmodemFrame::blockCount()
{
    QFETCH(int, size);
    QFETCH(int, blocks);
    QCOMPARE(BlocksFor(size), blocks);
}

void TestXmodemFrame::emptyImage_oneBlockAndFullProgress()
{
    QByteArray expected("\x01\x01\xFE", 3);
    expected += QByteArray(128, char(0xFF));
    expected += char(0x80);
    QCOMPARE(BuildImageBlock(QByteArray(), 1), expected);
    QVERIFY(IsFinalBlock(1, 0));
    QCOMPARE(BlockProgress(1, 0), 100);
}

QTEST_GUILESS_MAIN(TestXmodemFrame)
#include "tst_xmodemframe.moc"
