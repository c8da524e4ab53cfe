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

// The largest text file read: far beyond any settings file, page list, counter or port map, and
// small enough that a wrong file named by mistake costs nothing.
constexpr qint64 kLargestTextFile = 4 * 1024 * 1024;

class QFile;

enum class RegularFileOpen
{
    Opened,
    CannotOpen, // *systemError says why
    NotRegular, // a folder, FIFO, device or socket
};

// Opens a regular file for reading without ever waiting: a FIFO or a device named by mistake is
// refused without reading a byte, judged by what was opened so nothing swapped in slips through.
RegularFileOpen OpenRegularFile(const QString &path, QFile *file, QString *systemError);

// Reads a whole regular file of at most `maxBytes` bytes: the one reader for every file the
// program takes in (text files and images). Never waits: a FIFO, a device or a socket is refused
// without reading a byte, so /dev/zero or a pipe named by mistake cannot hang or exhaust memory.
// On failure returns false, leaves *bytes untouched and sets *error to "Cannot open file <path>",
// followed by ": not a regular file" or ": larger than <maxBytes> bytes" for those refusals.
bool ReadRegularFile(const QString &path, qint64 maxBytes, QByteArray *bytes, QString *error);

// Splits file bytes into lines: CR LF, a lone CR or a lone LF ends a line; a last line without an
// end counts; an empty input gives no lines; a NUL byte ends the text.
QStringList SplitTextLines(const QByteArray &bytes, TextEncoding encoding = TextEncoding::Bytes);

// Reads a whole file through ReadRegularFile (at most kLargestTextFile bytes) and splits it. On
// failure returns false, leaves *lines untouched and sets *error as ReadRegularFile does.
bool ReadTextFileLines(const QString &path, QStringList *lines, QString *error,
                       TextEncoding encoding = TextEncoding::Bytes);

// The bytes of a file holding `lines`, each followed by CR LF.
QByteArray TextFileBytes(const QStringList &lines, TextEncoding encoding = TextEncoding::Bytes);

// Writes each line followed by CR LF. The file is written beside the target and renamed over it,
// so a crash, a kill or a full disk leaves the old file whole. On failure returns false and sets
// *error to "Cannot create file <path>".
bool WriteTextFileLines(const QString &path, const QStringList &lines, QString *error,
                        TextEncoding encoding = TextEncoding::Bytes);
