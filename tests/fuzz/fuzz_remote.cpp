// The remote API as it reads outside input: a request head as it arrives
// on a connection (parseHttpHead), the request routed with its body
// (Router::handle, with the browser pages' routes: pages, pictures, face
// layouts, key pictures by id list), and a message of the event stream
// (Router::command, also as a view-only client's),
// against a host with one SK1400A panel whose face is kept without drawing.
// Checks that the head parser's verdict does not depend on the bytes past
// the head, that a complete head lies within the data and the limits, that
// every reply is a JSON object (an error with a 4xx status, or 200) and that
// nothing a request says changes what the panel shows.
//
// Input: byte 0 bit 0 selects the method (GET/POST); the rest is split at
// the first "\n\n" (or taken whole): a request head (its request line's
// target is routed), then the body, which is also given to command().

#include "bd_records.h"
#include "button_setter_impl.h"
#include "fuzz_common.h"
#include "pan_headlessface.h"
#include "rm_http_head.h"
#include "rm_json.h"
#include "rm_router.h"
#include "rm_web.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

class FuzzHost : public remote::Host
{
public:
    FuzzHost()
    {
        m_face.load(QStringLiteral("layout_sk1400a.xml"));
        setter.setButtons(m_face.buttons());
        setter.process_messages({buttondriver::makeText(11, "CAM 3", 2),
                                 buttondriver::makeColor2(12, 255, 0, 0, 300, 0, 255, 0, 300)});
    }
    QList<Rack> racks() const override { return {Rack{QStringLiteral("r"), {1}}}; }
    bool panel(int uid, remote::PanelSummary *out) const override
    {
        if (uid != 1)
            return false;
        out->uid = 1;
        out->state = QStringLiteral("started");
        return true;
    }
    bool face(int uid, remote::FaceView *out) const override
    {
        if (uid != 1)
            return false;
        out->panelSize = m_face.panelSize();
        out->items = m_face.items();
        out->setter = const_cast<buttondriver::ButtonSetterImpl *>(&setter);
        return true;
    }
    int commLevel(int, int) const override { return 0; }
    bool sendKey(int, int, bool) override
    {
        ++keys;
        return true;
    }
    bool startPanel(int, QString *why) override
    {
        *why = QStringLiteral("no");
        return false;
    }
    bool stopPanel(int, QString *why) override
    {
        *why = QStringLiteral("no");
        return false;
    }
    QImage faceImage(int, QString *why) override
    {
        *why = QStringLiteral("no");
        return QImage();
    }
    QImage keyImage(int, int, QString *why) override
    {
        *why = QStringLiteral("no");
        return QImage();
    }

    PAN_HeadlessFace m_face;
    buttondriver::ButtonSetterImpl setter{QStringLiteral("/nonexistent")};
    int keys = 0;
};

QCoreApplication *s_app;
FuzzHost *s_host;
remote::Router *s_router;
QByteArray s_before;

QByteArray snapshot()
{
    remote::FaceView f;
    s_host->face(1, &f);
    return QJsonDocument(remote::faceJson(f)).toJson();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_silence_stdout();
    static int argc = 1;
    static char name[] = "fuzz_remote";
    static char *argv[] = {name, nullptr};
    s_app = new QCoreApplication(argc, argv);
    s_host = new FuzzHost;
    s_router = new remote::Router(s_host);
    remote::WebPages::install(s_router, s_host);
    s_before = snapshot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool post = data[0] & 1;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    remote::HttpHead head;
    const remote::HeadResult r = remote::parseHttpHead(input, &head);
    if (r == remote::HeadResult::Complete) {
        FUZZ_CHECK(head.headBytes > 0 && head.headBytes <= input.size());
        FUZZ_CHECK(head.headBytes <= remote::MaxHeadBytes);
        FUZZ_CHECK(head.path.startsWith('/'));
        // What follows the head does not change it.
        remote::HttpHead again;
        FUZZ_CHECK(remote::parseHttpHead(input.left(head.headBytes) + "x", &again)
                   == remote::HeadResult::Complete);
        FUZZ_CHECK(again.target == head.target && again.contentLength == head.contentLength);
    } else if (r == remote::HeadResult::Incomplete) {
        FUZZ_CHECK(input.size() < remote::MaxHeadBytes);
    }

    remote::Request rq;
    rq.method = post ? "POST" : "GET";
    const qsizetype split = input.indexOf("\n\n");
    rq.path = r == remote::HeadResult::Complete ? head.path : (split < 0 ? input : input.left(split));
    rq.query = r == remote::HeadResult::Complete ? head.query : QByteArray();
    rq.body = split < 0 ? QByteArray() : input.mid(split + 2);
    const remote::Reply reply = s_router->handle(rq);
    FUZZ_CHECK(reply.status == 200 || reply.status == 303 || (reply.status >= 400 && reply.status < 600));
    if (reply.contentType == "application/json")
        FUZZ_CHECK(QJsonDocument::fromJson(reply.body).isObject());

    const QJsonObject answer = s_router->command(rq.body, post);
    FUZZ_CHECK(answer.value(QStringLiteral("type")).toString() == QLatin1String("reply"));
    const int status = answer.value(QStringLiteral("status")).toInt();
    FUZZ_CHECK(status == 200 || (status >= 400 && status < 500));
    FUZZ_CHECK(status == 200 || answer.contains(QStringLiteral("error")));

    // Presses go to the firmware; what the face shows comes from it alone.
    FUZZ_CHECK(snapshot() == s_before);
    return 0;
}
