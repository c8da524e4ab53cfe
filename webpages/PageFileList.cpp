#include "PageFileList.h"

#include "settings/TextFile.h"

#include <algorithm>
#include <vector>

namespace {

bool IsAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

bool LessIgnoringCase(const QString &a, const QString &b)
{
    return SortedStringList::Compare(a, b) < 0;
}

} // namespace

PagePathParts SplitPagePathWithRules(const QString &path, bool windowsRules)
{
    qsizetype split = 0;
    if (windowsRules && path.size() >= 2 && path.at(1) == QLatin1Char(':') &&
        IsAsciiLetter(path.at(0)))
        split = 2;
    for (qsizetype i = path.size() - 1; i >= split; --i) {
        const QChar c = path.at(i);
        if (c == QLatin1Char('/') || (windowsRules && c == QLatin1Char('\\'))) {
            split = i + 1;
            break;
        }
    }
    return {path.left(split), path.mid(split)};
}

PagePathParts SplitPagePath(const QString &path)
{
#ifdef Q_OS_WIN
    return SplitPagePathWithRules(path, true);
#else
    return SplitPagePathWithRules(path, false);
#endif
}

void ReplacePageList(PageFileList *list, const QStringList &lines)
{
    // A stable sort keeps case-variant lines in file order, so adding the sorted lines one by
    // one keeps the earliest of them, exactly as inserting in file order would, but every
    // insertion lands at the end.
    QStringList sorted = lines;
    std::stable_sort(sorted.begin(), sorted.end(), LessIgnoringCase);
    list->Clear();
    for (const QString &line : std::as_const(sorted))
        list->Add(line);
}

bool LoadPageList(const QString &path, PageFileList *list, QString *error)
{
    QStringList lines;
    if (!ReadTextFileLines(path, &lines, error, TextEncoding::System))
        return false;
    ReplacePageList(list, lines);
    return true;
}

bool SavePageList(const QString &path, const PageFileList &list, QString *error)
{
    return WriteTextFileLines(path, list.Items(), error, TextEncoding::System);
}

int RemovePageRows(PageFileList *list, const QList<PagePathParts> &rows)
{
    const QStringList &items = list->Items();
    std::vector<bool> doomed(size_t(items.size()), false);
    int removed = 0;
    for (const PagePathParts &row : rows) {
        const QString path = row.location + row.name;
        // An exact match also compares equal ignoring case, so it lies in that equal range.
        auto it = std::lower_bound(items.cbegin(), items.cend(), path, LessIgnoringCase);
        for (; it != items.cend() && SortedStringList::Compare(*it, path) == 0; ++it) {
            const size_t index = size_t(it - items.cbegin());
            if (!doomed[index] && *it == path) {
                doomed[index] = true;
                ++removed;
                break;
            }
        }
    }
    if (removed == 0)
        return 0;
    QStringList kept;
    kept.reserve(items.size() - removed);
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!doomed[size_t(i)])
            kept.append(items.at(i));
    }
    list->Clear();
    for (const QString &entry : std::as_const(kept))
        list->Add(entry);
    return removed;
}
