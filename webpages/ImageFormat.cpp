#include "ImageFormat.h"

bool PackImage(QList<ImageEntry>, QByteArray *, QString *error)
{
    *error = QStringLiteral("not built yet");
    return false;
}

bool UnpackImage(const QByteArray &, QList<ImageEntry> *, QString *error)
{
    *error = QStringLiteral("not built yet");
    return false;
}
