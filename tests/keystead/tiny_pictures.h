#ifndef TINY_PICTURES_H
#define TINY_PICTURES_H

// A picture directory for faces in tests that start threads: a 4 x 4
// picture under every name of the built-in set. Faces drawn from it scale
// nothing large, and so never hand work to Qt's own image thread pool,
// whose internal hand-overs the thread sanitizer cannot follow.

#include <QColor>
#include <QDir>
#include <QImage>
#include <QString>

inline bool writeTinyPictures(const QString &dir)
{
    const QStringList names = QDir(QStringLiteral(":/images2")).entryList(QDir::Files);
    if (names.isEmpty())
        return false;
    for (const QString &name : names) {
        QImage picture(4, 4, QImage::Format_ARGB32);
        picture.fill(QColor(80, 80, 80));
        if (!picture.save(QDir(dir).filePath(name)))
            return false;
    }
    return true;
}

#endif
