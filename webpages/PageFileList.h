#pragma once

#include "settings/SortedStringList.h"

#include <QList>
#include <QString>
#include <QStringList>

// The web page files the operator keeps: full paths, sorted case-insensitively, free of
// case-insensitive duplicates. The image build copies exactly these files.
using PageFileList = SortedStringList;

// A page path as the grid shows it. `location` is the drive and folder up to and including the
// last separator (empty without one); `name` is the rest. location + name is always the path,
// character for character, so a grid row leads back to its list entry.
struct PagePathParts
{
    QString location;
    QString name;
};

// Splits by this platform's rules: '/' everywhere, and on Windows also '\' and a leading drive
// ("C:"), the drive counting as part of the location even with no folder after it.
PagePathParts SplitPagePath(const QString &path);

// SplitPagePath with the rule set chosen explicitly, so both platforms' rules can be exercised
// on either platform. Application code calls SplitPagePath.
PagePathParts SplitPagePathWithRules(const QString &path, bool windowsRules);

// Empties the list, then adds every line by the sorted, duplicate-ignoring insertion: an empty
// line becomes an empty entry and, of case-variant lines, the earliest one is kept. Runs in
// n log n so lists of many thousands of lines load at once.
void ReplacePageList(PageFileList *list, const QStringList &lines);

// Replaces the list by the lines of a page list file (CR, LF or CR LF end a line, NUL ends the
// text). On failure returns false, sets *error to "Cannot open file <path>" and leaves the list
// as it was.
bool LoadPageList(const QString &path, PageFileList *list, QString *error);

// Writes the entries in list order, each followed by CR LF, replacing the file atomically so a
// failed save never leaves half a list. On failure returns false and sets *error to
// "Cannot create file <path>".
bool SavePageList(const QString &path, const PageFileList &list, QString *error);

// Removes, for each grid row (read before anything was removed), the first entry equal byte for
// byte to location + name; a row matching nothing removes nothing. Returns how many entries
// went. Binary search keeps this fast for large selections on large lists.
int RemovePageRows(PageFileList *list, const QList<PagePathParts> &rows);
