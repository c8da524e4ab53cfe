#include "SortedStringList.h"

#include <algorithm>

int SortedStringList::Compare(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive);
}

bool SortedStringList::Add(const QString &text)
{
    auto pos = std::lower_bound(
        m_items.begin(), m_items.end(), text,
        [](const QString &item, const QString &value) { return Compare(item, value) < 0; });
    if (pos != m_items.end() && Compare(*pos, text) == 0)
        return false;
    m_items.insert(pos, text);
    return true;
}
