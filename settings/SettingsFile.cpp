#include "SettingsFile.h"

#include "SettingsLines.h"
#include "TextFile.h"

#include <algorithm>

CommandQueue SortedQueueFromLines(const QStringList &lines)
{
    QStringList sorted = lines;
    // Stable, so of lines equal ignoring case the one listed first comes first and is kept.
    std::stable_sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
        return SortedStringList::Compare(a, b) < 0;
    });
    CommandQueue queue;
    for (const QString &line : sorted)
        queue.Add(line); // appends (or drops a repeat of the last entry): O(log n) each
    return queue;
}

QList<SettingsUpdate> ParseQueueLines(const CommandQueue &queue)
{
    QList<SettingsUpdate> updates;
    for (const QString &line : queue.Items()) {
        if (!line.isEmpty())
            updates.append(ParseSettingsLine(line.toLatin1()));
    }
    return updates;
}

void LoadSettingsBytes(const QByteArray &bytes, CommandQueue &queue, QList<SettingsUpdate> *updates)
{
    queue = SortedQueueFromLines(SplitTextLines(bytes));
    *updates = ParseQueueLines(queue);
}

bool LoadSettingsFile(const QString &path, CommandQueue &queue, QList<SettingsUpdate> *updates,
                      QString *error)
{
    QStringList lines;
    if (!ReadTextFileLines(path, &lines, error))
        return false;
    queue = SortedQueueFromLines(lines);
    *updates = ParseQueueLines(queue);
    return true;
}

bool SaveSettingsFile(const QString &path, const CommandQueue &queue, QString *error)
{
    return WriteTextFileLines(path, queue.Items(), error);
}

QByteArray SettingsFileBytes(const CommandQueue &queue)
{
    return TextFileBytes(queue.Items());
}
