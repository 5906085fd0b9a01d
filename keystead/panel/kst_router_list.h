#ifndef KST_ROUTER_LIST_H
#define KST_ROUTER_LIST_H

// The router controller addresses a panel accepts: a panel's setting that
// locks it to its controllers, since its router link answers whoever spoke
// last. The host hands it to the panel's firmware as the file
// "allowed_routers" in the panel's directory, written before each start
// (removed for an empty list, with which every address is accepted). The
// firmware reads it once, at its start.

#include <QString>
#include <QStringList>

namespace KST_RouterList {

enum { MaxAddresses = 16 };

// The file's name in the panel's directory.
QString fileName();

// A list as a user types it: IPv4 addresses in dotted decimal, separated
// by commas or blanks. False (and why) for an entry that is no such
// address or starts with 0, and for more than MaxAddresses; repeats are
// dropped.
bool parse(const QString &text, QStringList *addresses, QString *why = nullptr);

// "a, b, c": how the list is shown and stored.
QString text(const QStringList &addresses);

// Writes the list into directory dir as the firmware reads it (replacing
// the file as a whole), or removes the file for an empty list. False, with
// why, when that fails.
bool store(const QString &dir, const QStringList &addresses, QString *why);

} // namespace KST_RouterList

#endif
