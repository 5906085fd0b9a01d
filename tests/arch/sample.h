#ifndef TESTS_ARCH_SAMPLE_H
#define TESTS_ARCH_SAMPLE_H

// Archivable test objects holding one field of every value type the archive
// stores.

#include "arch_itemi.h"
#include "arch_itemo.h"

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QPoint>
#include <QPointF>

struct Leaf : arch::Archivable
{
    Leaf() = default;
    Leaf(const QString &l, int n) : label(l), number(n) {}
    QString label = QStringLiteral("default");
    int number = -1;
    bool save(arch::Itemo *node) const override
    {
        node->put("label", label)->put("number", number);
        return true;
    }
    bool load(const arch::Itemi *node) override
    {
        node->get("label", label)->get("number", number);
        return true;
    }
};

struct Sample : arch::Archivable
{
    bool flag = false;
    qint8 i8 = 0;
    quint8 u8 = 0;
    qint16 i16 = 0;
    quint16 u16 = 0;
    qint32 i32 = 0;
    quint32 u32 = 0;
    qint64 i64 = 0;
    quint64 u64 = 0;
    double d = 0;
    float f = 0;
    QString text;
    QByteArray bytes;
    QImage image;
    QPoint point;
    QPointF pointF;
    QColor color;
    QPalette palette;
    Leaf leaf;
    QList<Leaf *> leaves;
    QMap<int, QByteArray> blobs;

    ~Sample() override { qDeleteAll(leaves); }

    bool save(arch::Itemo *node) const override
    {
        node->put("flag", flag)
            ->put("i8", i8)->put("u8", u8)->put("i16", i16)->put("u16", u16)
            ->put("i32", i32)->put("u32", u32)->put("i64", i64)->put("u64", u64)
            ->put("d", d)->put("f", f)
            ->put("text", text)->put("bytes", bytes)->put("image", image)
            ->put("point", point)->put("pointF", pointF)->put("color", color)
            ->put("palette", palette)->put("leaf", leaf)
            ->put("leaves", leaves)->put("blobs", blobs);
        return true;
    }
    bool load(const arch::Itemi *node) override
    {
        node->get("flag", flag)
            ->get("i8", i8)->get("u8", u8)->get("i16", i16)->get("u16", u16)
            ->get("i32", i32)->get("u32", u32)->get("i64", i64)->get("u64", u64)
            ->get("d", d)->get("f", f)
            ->get("text", text)->get("bytes", bytes)->get("image", image)
            ->get("point", point)->get("pointF", pointF)->get("color", color)
            ->get("palette", palette)->get("leaf", leaf)
            ->get("blobs", blobs);
        QList<Leaf *> read;
        node->get("leaves", read);
        if (node->child("leaves")) {
            qDeleteAll(leaves);
            leaves = read;
        }
        return true;
    }
};

#endif
