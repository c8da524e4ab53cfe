#pragma once

#include "webpages/ImageFormat.h"

#include <QList>
#include <QString>
#include <QStringList>

// File system side of the image builder: folders of page files in, image files out, and back.
// Every failure returns false with a message that names the file or folder concerned.

// Reads every regular file directly in `folder` (links to files count). Sub-folders and other
// non-regular entries are left out and described in `notes`. Names are checked before any file
// is read, so a name the image cannot hold is reported by name. A dangling link is an error:
// it stands for a page file that cannot be read.
bool ReadPageFolder(const QString &folder, QList<ImageEntry> *entries, QStringList *notes,
                    QString *error);

// Writes `bytes` to `path` atomically: an older file there is replaced only once the new one
// is complete, and stays whole on any failure.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error);

// Reads and unpacks an image file. Only as many bytes as the largest image are read, so the
// padding a download may append is ignored and a huge file is not loaded whole.
bool ReadImageFile(const QString &path, QList<ImageEntry> *entries, QString *error);

// Writes each entry as a file in `folder`, creating the folder. Refuses a name that would
// land outside the folder and will not write through an existing link or over a folder.
bool WritePageFolder(const QString &folder, const QList<ImageEntry> &entries, QString *error);
