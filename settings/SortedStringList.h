#pragma once

#include <QString>
#include <QStringList>

// A list of texts kept in ascending case-insensitive order that ignores a text equal to one
// it already holds (ignoring case). The command queue and the web page file list are of
// this kind, so lines leave, and are saved, in sorted order whatever order they came in.
class SortedStringList
{
public:
    // Inserts at the sorted place; returns false (and changes nothing) for a case-insensitive
    // duplicate, so the entry keeps the spelling it was first listed with.
    bool Add(const QString &text);

    void Clear() { m_items.clear(); }
    bool IsEmpty() const { return m_items.isEmpty(); }
    int Count() const { return int(m_items.size()); }
    const QString &At(int index) const { return m_items.at(index); }
    void RemoveAt(int index) { m_items.removeAt(index); }
    QString TakeFirst() { return m_items.takeFirst(); }

    // Index of the first entry equal to `text` byte for byte, or -1.
    int IndexOfExact(const QString &text) const { return int(m_items.indexOf(text)); }

    const QStringList &Items() const { return m_items; }

    // The ordering both lists use: case-insensitive, so "ng" and "NG" are one entry.
    static int Compare(const QString &a, const QString &b);

private:
    QStringList m_items;
};

// The queue of command lines still to be sent, or of lines just read from a settings file.
using CommandQueue = SortedStringList;
