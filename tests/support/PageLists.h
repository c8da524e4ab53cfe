#pragma once

// A page list holding the given entries, in their sorted, duplicate-free form.

#include "webpages/PageFileList.h"

inline PageFileList ListOf(const QStringList &entries)
{
    PageFileList list;
    ReplacePageList(&list, entries);
    return list;
}
