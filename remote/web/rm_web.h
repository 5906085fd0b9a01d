#ifndef RM_WEB_H
#define RM_WEB_H

// remote::WebPages: the browser pages of the remote API, served by the same
// server, from files built into the program (nothing is fetched from
// elsewhere):
//
//   GET /                          the racks and their panels, live
//   GET /panel/UID                 a panel's face, live, pressed by mouse and touch
//                                  (?view=1: only viewed; the server refuses its presses)
//   GET /rack/NAME                 every face of a rack, one under the other
//   GET /web/FILE                  the pages' scripts and style
//   GET /web/images/NAME           a picture of the faces' set, as the host finds it
//   GET /web/sound.wav             the buzzer's sound
//   GET /web/fonts.json            the legend fonts as keys draw them
//   GET /web/face/UID.json         what a face is made of: its layout, item by item
//   GET /web/face/UID/images.json?ids=A,B   stored key pictures (for animations)
//   GET /web/face/UID/pictures/ID.png       a picture an item shows of its own
//
// The faces are drawn in the browser from the same item state the JSON API
// gives, with the host's own pictures and fonts, so they look the same
// whether the host draws faces (Keystead) or not (panelrun).
//
// A page opened as "/...?token=TOKEN" (the link the host shows) is
// redirected to its address without the token, which a cookie then keeps.

#include <QByteArray>
#include <QHash>
#include <QString>

namespace remote {

class Host;
class Router;
struct Reply;
struct Request;

class WebPages
{
public:
    // Answers the pages' routes of router's requests from now on; host
    // must outlive the router.
    static void install(Router *router, Host *host);

    // One request: true when it is one of the pages' routes (reply filled).
    bool handle(const Request &rq, Reply *reply);

    explicit WebPages(Host *host) : m_host(host) {}

private:
    bool page(const Request &rq, const QString &file, Reply *reply);
    bool asset(const QByteArray &name, Reply *reply);
    bool picture(const QByteArray &name, Reply *reply);
    bool face(int uid, Reply *reply);
    bool images(int uid, const QByteArray &query, Reply *reply);
    bool itemPicture(int uid, const QByteArray &id, Reply *reply);
    void fonts(Reply *reply);

    Host *m_host;
    QHash<QString, QByteArray> m_pictures; // encoded pictures by name
};

} // namespace remote

#endif
