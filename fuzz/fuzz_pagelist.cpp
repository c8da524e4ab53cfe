// Page list files and path splitting on arbitrary bytes: loading must never crash, must give a
// sorted list free of case-insensitive duplicates, every entry must split back into itself, and
// removing every entry by its grid row must empty the list.

#include "settings/TextFile.h"
#include "webpages/PageFileList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition)
{
    if (!condition)
        abort();
}

void CheckSplit(const QString &path, bool windowsRules)
{
    const PagePathParts parts = SplitPagePathWithRules(path, windowsRules);
    Check(parts.location + parts.name == path);
    Check(!parts.name.contains(QLatin1Char('/')));
    if (windowsRules)
        Check(!parts.name.contains(QLatin1Char('\\')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    PageFileList list;
    ReplacePageList(&list, SplitTextLines(bytes, TextEncoding::System));
    for (int i = 1; i < list.Count(); ++i)
        Check(SortedStringList::Compare(list.At(i - 1), list.At(i)) < 0);

    QList<PagePathParts> rows;
    for (const QString &entry : list.Items()) {
        CheckSplit(entry, false);
        CheckSplit(entry, true);
        rows.append(SplitPagePath(entry));
    }
    const int count = list.Count();
    Check(RemovePageRows(&list, rows) == count);
    Check(list.IsEmpty());

    // Text that is not Latin-1: surrogates and wide characters must split just as safely.
    const QString wide = QString::fromUtf8(bytes);
    CheckSplit(wide, false);
    CheckSplit(wide, true);
    return 0;
}
