#include "kst_router_list.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

namespace KST_RouterList {

QString fileName()
{
    return QStringLiteral("allowed_routers");
}

static bool isAddress(const QString &s)
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch m = re.match(s);
    if (!m.hasMatch() || m.captured(1).toInt() == 0)
        return false;
    for (int i = 1; i <= 4; ++i)
        if (m.captured(i).toInt() > 255)
            return false;
    return true;
}

bool parse(const QString &text, QStringList *addresses, QString *why)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    QStringList out;
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        if (!isAddress(entry)) {
            if (why)
                *why = QStringLiteral("\"%1\" is no router address (an IPv4 address such as 10.0.0.2)")
                           .arg(entry);
            return false;
        }
        // Written as the firmware reads it: no leading zeros.
        const QStringList parts = entry.split(QLatin1Char('.'));
        QString normal;
        for (const QString &p : parts)
            normal += (normal.isEmpty() ? QString() : QStringLiteral(".")) + QString::number(p.toInt());
        if (!out.contains(normal))
            out.append(normal);
    }
    if (out.size() > MaxAddresses) {
        if (why)
            *why = QStringLiteral("more than %1 router addresses").arg(int(MaxAddresses));
        return false;
    }
    *addresses = out;
    return true;
}

QString text(const QStringList &addresses)
{
    return addresses.join(QStringLiteral(", "));
}

bool store(const QString &dir, const QStringList &addresses, QString *why)
{
    const QString path = QDir(dir).filePath(fileName());
    if (addresses.isEmpty()) {
        if (QFile::exists(path) && !QFile::remove(path)) {
            *why = QStringLiteral("cannot remove %1").arg(path);
            return false;
        }
        return true;
    }
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *why = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    f.write("# Router controller addresses this panel accepts, written by its host at each start.\n");
    for (const QString &a : addresses)
        f.write(a.toLatin1() + '\n');
    if (!f.commit()) {
        *why = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace KST_RouterList
