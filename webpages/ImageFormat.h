#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The web page image: a small archive of named files that the unit serves. The format is
// described in docs/image-format.md; the same entries always give the same bytes.

struct ImageEntry
{
    QString name;    // bare file name, no folder
    QByteArray data; // the file's bytes
};

// Longest name an entry may carry, in bytes; its length travels in one byte and a short bound
// keeps the table small in the unit's little memory.
constexpr int kMaxImageNameLength = 63;

// Largest image the format admits. Far above what the unit takes, so that an oversized set of
// pages still builds and is refused by the size check with its real size, yet small enough that
// a reader never has to allocate for an absurd length field.
constexpr qint64 kMaxImageLength = 16 * 1024 * 1024;

// Empty when `name` may be stored, otherwise why not (for messages): 1 to 63 characters of
// printable ASCII (space to '~'), no '/', '\' or ':', not "." or "..", and no leading or
// trailing space. Such a name can never lead out of the folder it is unpacked into.
QString ImageNameProblem(const QString &name);

// Packs the entries (written in ascending byte order of their names) into one image.
// Returns false and sets `error` when a name does not fit the format (empty, too long,
// not plain ASCII, duplicated) or the result would not fit.
bool PackImage(QList<ImageEntry> entries, QByteArray *image, QString *error);

// Reads an image back. Returns false and sets `error` for anything malformed (short,
// wrong magic, a table or data range outside the image, a checksum that does not match);
// never reads outside `image`. Bytes after the image's own length (block padding added by
// the download) are ignored. Only the exact layout PackImage writes is accepted, so an image
// that unpacks repacks to the same bytes.
bool UnpackImage(const QByteArray &image, QList<ImageEntry> *entries, QString *error);
