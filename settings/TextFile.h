#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Plain text files as lists of lines: settings files, page list files and the MAC counter file.

// How the bytes of a file map to characters. Settings and counter files are the unit's 8-bit
// text: one byte, one character, so any content survives a load and a save. Page list files hold
// file paths in the system's own encoding, so names outside ASCII stay the names of real files.
enum class TextEncoding
{
    Bytes,
    System
};

// Splits file bytes into lines: CR LF, a lone CR or a lone LF ends a line; a last line without an
// end counts; an empty input gives no lines; a NUL byte ends the text.
QStringList SplitTextLines(const QByteArray &bytes, TextEncoding encoding = TextEncoding::Bytes);

// Reads a whole file and splits it. On failure returns false, leaves *lines untouched and sets
// *error to "Cannot open file <path>".
bool ReadTextFileLines(const QString &path, QStringList *lines, QString *error,
                       TextEncoding encoding = TextEncoding::Bytes);

// The bytes of a file holding `lines`, each followed by CR LF.
QByteArray TextFileBytes(const QStringList &lines, TextEncoding encoding = TextEncoding::Bytes);

// Writes each line followed by CR LF. The file is written beside the target and renamed over it,
// so a crash, a kill or a full disk leaves the old file whole. On failure returns false and sets
// *error to "Cannot create file <path>".
bool WriteTextFileLines(const QString &path, const QStringList &lines, QString *error,
                        TextEncoding encoding = TextEncoding::Bytes);
