// Feeds arbitrary bytes as the content of a settings file: splitting into lines, sorting into the
// queue, and parsing every line.

#include "settings/SettingsFile.h"
#include "settings/TextFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    CommandQueue queue;
    QList<SettingsUpdate> updates;
    LoadSettingsBytes(bytes, queue, &updates);

    for (int i = 1; i < queue.Count(); ++i) {
        if (SortedStringList::Compare(queue.At(i - 1), queue.At(i)) >= 0)
            std::abort();
    }
    if (updates.size() > queue.Count())
        std::abort();

    // The fast sorted load must keep exactly what one-by-one insertion keeps.
    if (size <= 4096) {
        CommandQueue expected;
        for (const QString &line : SplitTextLines(bytes))
            expected.Add(line);
        if (expected.Items() != queue.Items())
            std::abort();
    }
    return 0;
}
