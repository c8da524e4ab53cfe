#include "ImageFormat.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace {

constexpr char kMagic[4] = {'T', 'W', 'P', 'I'};
constexpr quint8 kFormatVersion = 1;
constexpr qint64 kHeaderSize = 16;
constexpr qint64 kChecksumOffset = 12;
constexpr qint64 kEntryFixedSize = 13; // name length byte, offset, length, checksum
constexpr qint64 kMaxEntries = 0xFFFF;

// Reflected CRC-32 (polynomial 0xEDB88320), table built at compile time.
constexpr std::array<quint32, 256> MakeCrcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
        table[i] = c;
    }
    return table;
}

constexpr std::array<quint32, 256> kCrcTable = MakeCrcTable();

// Running CRC state; start with 0xFFFFFFFF and invert at the end.
quint32 CrcUpdate(quint32 crc, const char *data, qint64 length)
{
    for (qint64 i = 0; i < length; ++i)
        crc = kCrcTable[(crc ^ static_cast<quint8>(data[i])) & 0xFFu] ^ (crc >> 8);
    return crc;
}

quint32 Crc32(const char *data, qint64 length)
{
    return CrcUpdate(0xFFFFFFFFu, data, length) ^ 0xFFFFFFFFu;
}

// The image checksum covers every image byte, with the checksum field itself read as zero.
quint32 ImageChecksum(const char *image, qint64 length)
{
    static const char zeros[4] = {0, 0, 0, 0};
    quint32 crc = CrcUpdate(0xFFFFFFFFu, image, kChecksumOffset);
    crc = CrcUpdate(crc, zeros, 4);
    crc = CrcUpdate(crc, image + kHeaderSize, length - kHeaderSize);
    return crc ^ 0xFFFFFFFFu;
}

quint16 ReadU16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}

quint32 ReadU32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

void AppendU16(QByteArray *out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out->append(bytes, 2);
}

void AppendU32(QByteArray *out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out->append(bytes, 4);
}

// One table entry as read, before its data range is checked.
struct RawEntry
{
    QByteArray name;
    quint32 offset = 0;
    quint32 length = 0;
    quint32 checksum = 0;
};

bool Fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

QString Quoted(const QByteArray &asciiName)
{
    return QLatin1Char('"') + QString::fromLatin1(asciiName) + QLatin1Char('"');
}

// Reads the entry table that starts right after the header; `position` ends at its end.
bool ReadTable(const char *image, qint64 imageLength, int count, std::vector<RawEntry> *table,
               qint64 *position, QString *error)
{
    qint64 pos = kHeaderSize;
    for (int i = 0; i < count; ++i) {
        const auto where = [&] {
            return QStringLiteral("Image entry %1 of %2").arg(i + 1).arg(count);
        };
        if (imageLength - pos < 1)
            return Fail(error, where() + QStringLiteral(" lies beyond the end of the image"));
        const int nameLength = static_cast<quint8>(image[pos]);
        if (nameLength < 1 || nameLength > kMaxImageNameLength)
            return Fail(error,
                        where() + QStringLiteral(" has a name length of %1 (1 to %2 allowed)")
                                      .arg(nameLength)
                                      .arg(kMaxImageNameLength));
        if (imageLength - pos < 1 + nameLength + kEntryFixedSize - 1)
            return Fail(error, where() + QStringLiteral(" runs past the end of the image"));

        RawEntry entry;
        entry.name = QByteArray(image + pos + 1, nameLength);
        const QString problem = ImageNameProblem(QString::fromLatin1(entry.name));
        if (!problem.isEmpty())
            return Fail(error, where() + QStringLiteral(" has an invalid name: ") + problem);
        if (!table->empty()) {
            const QByteArray &previous = table->back().name;
            if (entry.name == previous)
                return Fail(error,
                            where() + QStringLiteral(" repeats the name ") + Quoted(entry.name));
            if (entry.name < previous)
                return Fail(error, where() + QStringLiteral(" is out of name order"));
        }
        const char *fields = image + pos + 1 + nameLength;
        entry.offset = ReadU32(fields);
        entry.length = ReadU32(fields + 4);
        entry.checksum = ReadU32(fields + 8);
        table->push_back(std::move(entry));
        pos += kEntryFixedSize + nameLength;
    }
    *position = pos;
    return true;
}

// Data follows the table without gaps, in table order, and ends exactly at the image's end.
bool CheckDataRanges(const std::vector<RawEntry> &table, qint64 tableEnd, qint64 imageLength,
                     QString *error)
{
    qint64 expected = tableEnd;
    for (const RawEntry &entry : table) {
        const auto where = [&] { return QStringLiteral("Data of ") + Quoted(entry.name); };
        const qint64 offset = entry.offset;
        const qint64 length = entry.length;
        if (offset > imageLength || length > imageLength - offset)
            return Fail(error, where() + QStringLiteral(" (offset %1, %2 bytes) lies outside the "
                                                        "image of %3 bytes")
                                             .arg(offset)
                                             .arg(length)
                                             .arg(imageLength));
        if (offset < expected)
            return Fail(error, where() + QStringLiteral(" at offset %1 overlaps the table or the "
                                                        "previous file (expected %2)")
                                             .arg(offset)
                                             .arg(expected));
        if (offset > expected)
            return Fail(error, where() + QStringLiteral(" at offset %1 leaves a gap (expected %2)")
                                             .arg(offset)
                                             .arg(expected));
        expected += length;
    }
    if (expected != imageLength)
        return Fail(error, QStringLiteral("The image holds %1 bytes after its last file")
                               .arg(imageLength - expected));
    return true;
}

} // namespace

QString ImageNameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("the name is empty");
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u > 0x7E)
            return QStringLiteral("only printable ASCII characters can be stored");
        if (u == '/' || u == '\\' || u == ':')
            return QStringLiteral("the name may not contain '%1'").arg(c);
    }
    if (name.size() > kMaxImageNameLength)
        return QStringLiteral("the name is longer than %1 characters").arg(kMaxImageNameLength);
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("the name \"%1\" is reserved").arg(name);
    if (name.front() == QLatin1Char(' ') || name.back() == QLatin1Char(' '))
        return QStringLiteral("the name may not begin or end with a space");
    return QString();
}

bool PackImage(QList<ImageEntry> entries, QByteArray *image, QString *error)
{
    std::vector<std::pair<QByteArray, QByteArray>> files;
    files.reserve(static_cast<size_t>(entries.size()));
    for (ImageEntry &entry : entries) {
        const QString problem = ImageNameProblem(entry.name);
        if (!problem.isEmpty())
            return Fail(
                error,
                QStringLiteral("File name \"%1\" cannot be stored: %2").arg(entry.name, problem));
        files.emplace_back(entry.name.toLatin1(), std::move(entry.data));
    }
    std::sort(files.begin(), files.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 1; i < files.size(); ++i) {
        if (files[i].first == files[i - 1].first)
            return Fail(
                error,
                QStringLiteral("File name %1 appears more than once").arg(Quoted(files[i].first)));
    }
    if (static_cast<qint64>(files.size()) > kMaxEntries)
        return Fail(error, QStringLiteral("%1 files do not fit in one image (at most %2)")
                               .arg(files.size())
                               .arg(kMaxEntries));

    qint64 tableEnd = kHeaderSize;
    qint64 total = kHeaderSize;
    for (const auto &file : files) {
        tableEnd += kEntryFixedSize + file.first.size();
        total += kEntryFixedSize + file.first.size() + file.second.size();
        if (total > kMaxImageLength)
            return Fail(
                error,
                QStringLiteral("The image would be larger than %1 bytes").arg(kMaxImageLength));
    }

    QByteArray out;
    out.reserve(total);
    out.append(kMagic, 4);
    out.append(static_cast<char>(kFormatVersion));
    out.append('\0'); // flags
    AppendU16(&out, static_cast<quint16>(files.size()));
    AppendU32(&out, static_cast<quint32>(total));
    AppendU32(&out, 0); // image checksum, filled in below
    qint64 offset = tableEnd;
    for (const auto &file : files) {
        out.append(static_cast<char>(file.first.size()));
        out.append(file.first);
        AppendU32(&out, static_cast<quint32>(offset));
        AppendU32(&out, static_cast<quint32>(file.second.size()));
        AppendU32(&out, Crc32(file.second.constData(), file.second.size()));
        offset += file.second.size();
    }
    for (const auto &file : files)
        out.append(file.second);
    Q_ASSERT(out.size() == total);
    qToLittleEndian(ImageChecksum(out.constData(), total), out.data() + kChecksumOffset);
    *image = out;
    return true;
}

bool UnpackImage(const QByteArray &image, QList<ImageEntry> *entries, QString *error)
{
    const char *data = image.constData();
    const qint64 available = image.size();
    if (available < kHeaderSize)
        return Fail(error, QStringLiteral("The image is too short for its header (%1 bytes, %2 "
                                          "needed)")
                               .arg(available)
                               .arg(kHeaderSize));
    if (!std::equal(kMagic, kMagic + 4, data))
        return Fail(error, QStringLiteral("Not a web page image (wrong identifier)"));
    if (static_cast<quint8>(data[4]) != kFormatVersion)
        return Fail(error, QStringLiteral("Unsupported image format version %1")
                               .arg(static_cast<quint8>(data[4])));
    if (data[5] != 0)
        return Fail(error, QStringLiteral("Unknown image flags 0x%1")
                               .arg(static_cast<quint8>(data[5]), 2, 16, QLatin1Char('0')));
    const int count = ReadU16(data + 6);
    const qint64 length = ReadU32(data + 8);
    if (length < kHeaderSize)
        return Fail(
            error,
            QStringLiteral("The image length field (%1) is shorter than the header").arg(length));
    if (length > kMaxImageLength)
        return Fail(error, QStringLiteral("The image length field (%1) exceeds the largest image "
                                          "(%2 bytes)")
                               .arg(length)
                               .arg(kMaxImageLength));
    if (length > available)
        return Fail(error, QStringLiteral("The image is truncated: it should hold %1 bytes but "
                                          "only %2 are present")
                               .arg(length)
                               .arg(available));

    std::vector<RawEntry> table;
    qint64 tableEnd = kHeaderSize;
    if (!ReadTable(data, length, count, &table, &tableEnd, error))
        return false;
    if (!CheckDataRanges(table, tableEnd, length, error))
        return false;

    const quint32 storedChecksum = ReadU32(data + kChecksumOffset);
    if (ImageChecksum(data, length) != storedChecksum)
        return Fail(error, QStringLiteral("The image checksum does not match: the image is "
                                          "damaged"));

    QList<ImageEntry> result;
    result.reserve(static_cast<qsizetype>(table.size()));
    for (const RawEntry &entry : table) {
        const char *fileData = data + entry.offset;
        if (Crc32(fileData, entry.length) != entry.checksum)
            return Fail(error, QStringLiteral("The checksum of %1 does not match: the file is "
                                              "damaged")
                                   .arg(Quoted(entry.name)));
        result.append(ImageEntry{QString::fromLatin1(entry.name),
                                 QByteArray(fileData, static_cast<qsizetype>(entry.length))});
    }
    *entries = result;
    return true;
}
