#include "webpages/ImageFormat.h"

#include <QtTest>

#include <algorithm>

namespace {

// Bit-by-bit CRC-32 (reflected, 0xEDB88320), written apart from the table-driven one under test.
quint32 ReferenceCrc(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= static_cast<quint8>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
    }
    return ~crc;
}

QByteArray Le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((value >> (8 * i)) & 0xFF);
    return bytes;
}

// Recomputes the image checksum (offset 12, over the image with that field zeroed) so that a
// corruption reaches the check aimed at rather than the whole-image one.
void FixImageChecksum(QByteArray *image)
{
    const quint32 length = qFromLittleEndian<quint32>(image->constData() + 8);
    QByteArray copy = image->left(length);
    copy.replace(12, 4, QByteArray(4, '\0'));
    image->replace(12, 4, Le32(ReferenceCrc(copy)));
}

// "a.htm" = "hello" and "b.gif" = "0123456789": 16-byte header, entries at 16 and 34 (18 bytes
// each), data at 52 and 57, 67 bytes in all.
QByteArray TwoFileImage()
{
    QByteArray image;
    QString error;
    const bool packed = PackImage({{"b.gif", "0123456789"}, {"a.htm", "hello"}}, &image, &error);
    Q_ASSERT(packed);
    return image;
}

bool SameEntries(const QList<ImageEntry> &a, const QList<ImageEntry> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto &x, const auto &y) {
        return x.name == y.name && x.data == y.data;
    });
}

} // namespace

class TestImageFormat : public QObject
{
    Q_OBJECT

private slots:
    void referenceCrc_matchesStandardCheckValue();
    void pack_twoFiles_givesDocumentedBytes();
    void roundTrip_data();
    void roundTrip();
    void pack_sameBytesWhateverTheInputOrder();
    void unpack_ignoresTrailingPadding_data();
    void unpack_ignoresTrailingPadding();
    void pack_nameRules_data();
    void pack_nameRules();
    void pack_duplicateName_isRejected();
    void pack_largestImage_fitsAndOneMoreByteFails();
    void unpack_corruption_isRejectedWithMessage_data();
    void unpack_corruption_isRejectedWithMessage();
    void unpack_everyTruncation_isRejected();
    void unpack_headerOnlyWithManyEntries_isRejected();
};

void TestImageFormat::referenceCrc_matchesStandardCheckValue()
{
    QCOMPARE(ReferenceCrc("123456789"), 0xCBF43926u);
}

void TestImageFormat::pack_twoFiles_givesDocumentedBytes()
{
    QByteArray expected = QByteArray("TWPI\x01\x00\x02\x00", 8) + Le32(67) + Le32(0);
    expected += QByteArray("\x05"
                           "a.htm") +
                Le32(52) + Le32(5) + Le32(ReferenceCrc("hello"));
    expected += QByteArray("\x05"
                           "b.gif") +
                Le32(57) + Le32(10) + Le32(ReferenceCrc("0123456789"));
    expected += "hello0123456789";
    expected.replace(12, 4, Le32(ReferenceCrc(expected)));
    QCOMPARE(TwoFileImage().toHex(' '), expected.toHex(' '));
}

void TestImageFormat::roundTrip_data()
{
    QTest::addColumn<QList<ImageEntry>>("entries");
    QByteArray allBytes(256 * 3, '\0');
    for (int i = 0; i < allBytes.size(); ++i)
        allBytes[i] = char(i);
    QTest::newRow("no files") << QList<ImageEntry>{};
    QTest::newRow("one empty file") << QList<ImageEntry>{{"empty.txt", {}}};
    QTest::newRow("every byte value") << QList<ImageEntry>{{"bin.dat", allBytes}};
    QTest::newRow("longest name") << QList<ImageEntry>{{QString(63, 'n'), "x"}};
    QTest::newRow("larger than the unit takes")
        << QList<ImageEntry>{{"big.jpg", QByteArray(40000, '\xA5')}, {"index.htm", "<html>"}};
}

void TestImageFormat::roundTrip()
{
    QFETCH(QList<ImageEntry>, entries);
    QByteArray image;
    QString error;
    QVERIFY2(PackImage(entries, &image, &error), qPrintable(error));
    QList<ImageEntry> back;
    QVERIFY2(UnpackImage(image, &back, &error), qPrintable(error));
    QVERIFY(SameEntries(back, entries));
}

void TestImageFormat::pack_sameBytesWhateverTheInputOrder()
{
    QList<ImageEntry> entries{{"a.htm", "1"}, {"Z.htm", "2"}, {"B.gif", "3"}, {"_x", "4"}};
    QByteArray first;
    QString error;
    QVERIFY(PackImage(entries, &first, &error));
    std::sort(entries.begin(), entries.end(),
              [](const auto &a, const auto &b) { return a.name > b.name; });
    QByteArray second;
    QVERIFY(PackImage(entries, &second, &error));
    QCOMPARE(second, first);

    QList<ImageEntry> back;
    QVERIFY(UnpackImage(first, &back, &error));
    QStringList names;
    for (const ImageEntry &entry : back)
        names << entry.name;
    QCOMPARE(names, (QStringList{"B.gif", "Z.htm", "_x", "a.htm"})); // byte order, not case order
}

void TestImageFormat::unpack_ignoresTrailingPadding_data()
{
    QTest::addColumn<QByteArray>("tail");
    QTest::newRow("last block filled with FF") << QByteArray(128 - 67, '\xFF');
    QTest::newRow("plus a whole padding block") << QByteArray(128 - 67 + 128, '\xFF');
    QTest::newRow("zeros") << QByteArray(5, '\0');
}

void TestImageFormat::unpack_ignoresTrailingPadding()
{
    QFETCH(QByteArray, tail);
    QList<ImageEntry> back;
    QString error;
    QVERIFY2(UnpackImage(TwoFileImage() + tail, &back, &error), qPrintable(error));
    QVERIFY(SameEntries(back, {{"a.htm", "hello"}, {"b.gif", "0123456789"}}));
}

void TestImageFormat::pack_nameRules_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain") << "index.htm" << true;
    QTest::newRow("inner space and symbols") << "my page~!#.htm" << true;
    QTest::newRow("three dots") << "..." << true;
    QTest::newRow("63 characters") << QString(63, 'a') << true;
    QTest::newRow("64 characters") << QString(64, 'a') << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("slash") << "a/b.htm" << false;
    QTest::newRow("backslash") << "a\\b.htm" << false;
    QTest::newRow("drive colon") << "c:b.htm" << false;
    QTest::newRow("dot") << "." << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("NUL") << QString::fromLatin1("a\0b", 3) << false;
    QTest::newRow("tab") << "a\tb" << false;
    QTest::newRow("DEL") << "a\x7f" << false;
    QTest::newRow("non-ASCII") << QString::fromUtf8("caf\xc3\xa9.htm") << false;
    QTest::newRow("leading space") << " a.htm" << false;
    QTest::newRow("trailing space") << "a.htm " << false;
}

void TestImageFormat::pack_nameRules()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QByteArray image;
    QString error;
    QCOMPARE(PackImage({{name, "x"}}, &image, &error), accepted);
    if (!accepted)
        QVERIFY2(error.contains(name), qPrintable(error)); // the operator learns which file
}

void TestImageFormat::pack_duplicateName_isRejected()
{
    QByteArray image;
    QString error;
    QVERIFY(!PackImage({{"a.htm", "1"}, {"b.htm", "2"}, {"a.htm", "3"}}, &image, &error));
    QVERIFY2(error.contains("a.htm"), qPrintable(error));
}

void TestImageFormat::pack_largestImage_fitsAndOneMoreByteFails()
{
    const int dataFitting = 16777216 - 16 - 13 - 1; // header, entry, one-letter name
    QByteArray image;
    QString error;
    QVERIFY2(PackImage({{"f", QByteArray(dataFitting, 'x')}}, &image, &error), qPrintable(error));
    QCOMPARE(image.size(), 16777216);
    QVERIFY(!PackImage({{"f", QByteArray(dataFitting + 1, 'x')}}, &image, &error));
    QVERIFY(!error.isEmpty());
}

void TestImageFormat::unpack_corruption_isRejectedWithMessage_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("fixChecksum");
    QTest::addColumn<QString>("message");
    auto row = [](const char *name, int offset, const QByteArray &bytes, bool fix,
                  const char *message) {
        QTest::newRow(name) << offset << bytes << fix << QString(message);
    };
    row("wrong identifier", 0, "X", true, "identifier");
    row("newer format version", 4, "\x02", true, "version");
    row("unknown flag", 5, "\x01", true, "flags");
    row("fewer entries than data", 6, QByteArray("\x01\x00", 2), true, "gap");
    row("more entries than the table holds", 6, QByteArray("\x03\x00", 2), true, "name length");
    row("length shorter than header", 8, Le32(15), true, "shorter than the header");
    row("length beyond the bytes present", 8, Le32(68), true, "truncated");
    row("huge length", 8, Le32(0xFFFFFFFF), true, "exceeds");
    row("length cutting the last file", 8, Le32(66), true, "outside");
    row("name length zero", 16, QByteArray(1, '\0'), true, "name length");
    row("name length 64", 16, "\x40", true, "name length");
    row("name running past the end", 34, "\x3f", true, "past the end");
    row("slash in name", 17, "/", true, "invalid name");
    row("NUL in name", 17, QByteArray(1, '\0'), true, "invalid name");
    row("escape in name", 17, "\x1b", true, "invalid name");
    row("non-ASCII name", 17, "\xe9", true, "invalid name");
    row("duplicate name", 35, "a.htm", true, "repeats");
    row("names out of order", 35, "a.aaa", true, "order");
    row("data overlapping the table", 22, Le32(51), true, "overlaps");
    row("gap before data", 22, Le32(53), true, "gap");
    row("offset far outside", 22, Le32(0xFFFFFFF0), true, "outside");
    row("length that would overflow", 26, Le32(0xFFFFFFFF), true, "outside");
    row("first file overlapping the second", 26, Le32(6), true, "overlaps");
    row("bytes after the last file", 44, Le32(9), true, "after its last file");
    row("data byte changed", 52, "j", false, "image checksum");
    row("image checksum changed", 12, Le32(0), false, "image checksum");
    row("data byte changed, image checksum redone", 52, "j", true, "checksum of \"a.htm\"");
    row("file checksum changed", 30, Le32(0), true, "checksum of \"a.htm\"");
}

void TestImageFormat::unpack_corruption_isRejectedWithMessage()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, fixChecksum);
    QFETCH(QString, message);
    QByteArray image = TwoFileImage();
    image.replace(offset, bytes.size(), bytes);
    if (fixChecksum && qFromLittleEndian<quint32>(image.constData() + 8) <= quint32(image.size()))
        FixImageChecksum(&image);
    QList<ImageEntry> entries{{"kept", "as it was"}};
    QString error;
    QVERIFY(!UnpackImage(image, &entries, &error));
    QVERIFY2(error.contains(message, Qt::CaseInsensitive), qPrintable(error));
    QVERIFY(SameEntries(entries, {{"kept", "as it was"}}));
}

void TestImageFormat::unpack_everyTruncation_isRejected()
{
    const QByteArray image = TwoFileImage();
    for (int size = 0; size < image.size(); ++size) {
        QList<ImageEntry> entries;
        QString error;
        QVERIFY2(!UnpackImage(image.left(size), &entries, &error),
                 qPrintable(QString::number(size)));
        QVERIFY(!error.isEmpty());
    }
}

void TestImageFormat::unpack_headerOnlyWithManyEntries_isRejected()
{
    QByteArray image = QByteArray("TWPI\x01\x00\xff\xff", 8) + Le32(16) + Le32(0);
    FixImageChecksum(&image);
    QList<ImageEntry> entries;
    QString error;
    QVERIFY(!UnpackImage(image, &entries, &error));
    QVERIFY2(error.contains("beyond the end"), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestImageFormat)
#include "tst_imageformat.moc"
