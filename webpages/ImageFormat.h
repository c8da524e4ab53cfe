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

// Packs the entries (written in ascending byte order of their names) into one image.
// Returns false and sets `error` when a name does not fit the format (empty, too long,
// not plain ASCII, duplicated) or the result would not fit.
bool PackImage(QList<ImageEntry> entries, QByteArray *image, QString *error);

// Reads an image back. Returns false and sets `error` for anything malformed (short,
// wrong magic, a table or data range outside the image, a checksum that does not match);
// never reads outside `image`.
bool UnpackImage(const QByteArray &image, QList<ImageEntry> *entries, QString *error);
