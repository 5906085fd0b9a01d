#include "button_setter_impl.h"

#include "bd_decode.h"
#include "bd_records.h"
#include "builtin_images.h"
#include "button_virtual.h"

#include <QFile>
#include <QIODevice>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace buttondriver {

namespace {

// Records addressed to every button with pictures (7, 13) leave LEDs alone,
// and buttons 300 and 301 too.
bool takesAllButtonPictures(qint32 id, const IButton *b)
{
    return !b->isLED() && id != 300 && id != 301;
}

// A component at a brightness level in percent; level 0 leaves it as sent.
quint8 scaled(quint8 c, int level)
{
    if (level == 0)
        return c;
    // The level comes from a file: keep whatever it says inside a byte.
    return quint8(std::clamp<qint64>(qint64(c) * level / 100, 0, 255));
}

} // namespace

ButtonSetterImpl::ButtonSetterImpl(const QString &levelFile, QObject *parent)
    : QObject(parent), m_levelFile(levelFile)
{
    for (int id = 0; id < BUILTIN_IMAGE_COUNT; ++id) {
        FaceImage img;
        img.setData(reinterpret_cast<const char *>(builtinImageData(id)), IMAGE_DATA_SIZE);
        m_images.insert(id, img);
    }
    reconfig();
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ButtonSetterImpl::update_timer);
}

ButtonSetterImpl::~ButtonSetterImpl() = default;

bool ButtonSetterImpl::setButtons(const QMap<qint32, IButton *> &buttons, MessageHandler *handler)
{
    m_buttons = buttons;
    m_handler = handler;
    // The old buttons may be deleted once the table no longer holds them:
    // the timer must not reach them any more.
    QSet<IButton *> live;
    for (IButton *b : buttons)
        live.insert(b);
    for (auto it = m_flashing.begin(); it != m_flashing.end();)
        it = live.contains(it->first) ? std::next(it) : m_flashing.erase(it);
    for (auto it = m_animations.begin(); it != m_animations.end();)
        it = live.contains(it->first) ? std::next(it) : m_animations.erase(it);
    if (m_flashing.empty() && m_animations.empty())
        m_timer.stop();
    return true;
}

const FaceImage *ButtonSetterImpl::image(qint32 id) const
{
    const auto it = m_images.constFind(id);
    return it == m_images.constEnd() ? nullptr : &*it;
}

IButton *ButtonSetterImpl::button(qint32 id) const
{
    return m_buttons.value(id, nullptr);
}

int ButtonSetterImpl::levelFor(const IButton *b) const
{
    return b->isLED() ? m_ledLevel : m_lcdLevel;
}

void ButtonSetterImpl::startTimer()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void ButtonSetterImpl::process_messages(const std::vector<QByteArray> &batch)
{
    for (const QByteArray &record : batch)
        dispatch(record);
    reportTouched();
}

void ButtonSetterImpl::touch(IButton *b)
{
    m_touched.append(b->id());
    if (b->isVirtual())
        if (IButton *p = b->mapped())
            m_touched.append(p->id());
}

void ButtonSetterImpl::reportTouched()
{
    if (m_touched.isEmpty())
        return;
    QList<qint32> ids;
    ids.swap(m_touched);
    if (ids.size() > 1) {
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    }
    emit applied(ids);
}

bool ButtonSetterImpl::flashInfo(IButton *button, FlashInfo *info) const
{
    const auto it = m_flashing.find(button);
    if (it == m_flashing.end())
        return false;
    const FlashState &f = it->second;
    std::copy(f.color1, f.color1 + 3, info->color1);
    std::copy(f.color2, f.color2 + 3, info->color2);
    info->ms1 = f.ms1;
    info->ms2 = f.ms2;
    // The counter has been advanced past the colour shown last.
    const qint64 t1 = std::max<qint64>(1, f.ms1 / 20);
    info->phase = (f.counter > t1) ? 1 : 0;
    return true;
}

bool ButtonSetterImpl::animInfo(IButton *button, AnimInfo *info) const
{
    const auto it = m_animations.find(button);
    if (it == m_animations.end())
        return false;
    const AnimState &a = it->second;
    info->scroll = a.scroll.active;
    info->text = a.scroll.text;
    info->flags = a.scroll.flags;
    info->imageIds = a.imageIds;
    info->rate = a.rate;
    info->repeat = a.repeat;
    return true;
}

// One record; whatever is wrong with it is reported and stays with it.
void ButtonSetterImpl::dispatch(const QByteArray &bytes)
{
    Record r;
    switch (parseRecord(bytes, &r)) {
    case ParseResult::TooShort:
        qCritical("ButtonSetterImpl::process_messages, record too short, size %d (%s,%d)",
                  int(bytes.size()), __FILE__, __LINE__);
        return;
    case ParseResult::Malformed:
        qCritical("ButtonSetterImpl::process_messages, malformed record, type %u size %d (%s,%d)",
                  r.type, int(bytes.size()), __FILE__, __LINE__);
        return;
    case ParseResult::Unhandled:
        qCritical("ButtonSetterImpl::process_messages, unhandled switch case %u (%s,%d)", r.type,
                  __FILE__, __LINE__);
        return;
    case ParseResult::Ok:
        break;
    }

    switch (r.type) {
    case TYPE_NULL_MESSAGE:
        qCritical("ButtonSetterImpl::process_messages , TYPE_NULL_MESSAGE (%s,%d)", __FILE__,
                  __LINE__);
        break;
    case TYPE_COLOR: color(r); break;
    case TYPE_TEXT: text(r.id, r.text, r.flags); break;
    case TYPE_IMAGE: uploadImage(r); break;
    case TYPE_BUTTON_IMAGE: buttonImage(r.id, r.id2); break;
    case TYPE_RECONFIG: reconfig(); break;
    case TYPE_COLOR2: color2(r); break;
    case TYPE_SYNC:
        // The reply would go back on the connection the batch came from;
        // batches from the firmware come on none.
        qCritical("iodev NULL (%s,%d)", __FILE__, __LINE__);
        break;
    case TYPE_IMAGE_SEQ: imageSeq(r); break;
    case TYPE_FORWARD:
        if (m_handler)
            m_handler->forwardMessage(r.value1, r.value2);
        break;
    case TYPE_VIRTUAL: createVirtual(r.id); break;
    case TYPE_MAP_VIRTUAL: mapVirtual(r.id, r.id2); break;
    default:
        qCritical("ButtonSetterImpl::process_messages, unhandled switch case %u (%s,%d)", r.type,
                  __FILE__, __LINE__);
        break;
    }
}

// ---- Colours --------------------------------------------------------------

void ButtonSetterImpl::color(const Record &r)
{
    if (r.id == ALL_BUTTONS) {
        const QMap<qint32, IButton *> all = m_buttons;
        for (auto it = all.cbegin(); it != all.cend(); ++it)
            applyColor(it.key(), it.value(), r.rgb1);
        return;
    }
    IButton *b = button(r.id);
    if (!b) {
        printf("buttondriver:invalid button id %d, color\n", r.id);
        return;
    }
    applyColor(r.id, b, r.rgb1);
}

void ButtonSetterImpl::applyColor(qint32 id, IButton *b, const quint8 (&rgb)[3])
{
    const int level = levelFor(b);
    const quint8 red = scaled(rgb[0], level);
    const quint8 green = scaled(rgb[1], level);
    const quint8 blue = scaled(rgb[2], level);
    b->setColor(red, green, blue);
    if (m_observer)
        m_observer->colorApplied(id, red, green, blue);
    m_flashing.erase(b); // a plain colour ends a flash
    touch(b);
}

void ButtonSetterImpl::color2(const Record &r)
{
    if (r.id == ALL_BUTTONS) {
        for (IButton *b : m_buttons)
            applyColor2(b, r);
        return;
    }
    IButton *b = button(r.id);
    if (!b) {
        printf("buttondriver:invalid button id %d, color2\n", r.id);
        return;
    }
    applyColor2(b, r);
}

void ButtonSetterImpl::applyColor2(IButton *b, const Record &r)
{
    const int level = levelFor(b);
    FlashState f{};
    for (int i = 0; i < 3; ++i) {
        // Level 0 keeps a plain colour as sent but darkens a flash.
        f.color1[i] = level == 0 ? 0 : scaled(r.rgb1[i], level);
        f.color2[i] = level == 0 ? 0 : scaled(r.rgb2[i], level);
    }
    f.ms1 = r.ms1;
    f.ms2 = r.ms2;
    f.counter = 0;
    m_flashing[b] = f; // shown from the next tick on
    touch(b);
    startTimer();
}

// ---- Legends ----------------------------------------------------------------

void ButtonSetterImpl::text(qint32 id, const QByteArray &text, quint32 flags)
{
    if (id == COMMAND_ID) {
        if (text == "@wakeup_lcd") {
            if (m_as0) {
                printf("@wakeup\n");
                m_as0->write("@wakeup\n");
                qDebug("buttondriver:cmd \"%s\"", text.constData());
            } else {
                qCritical("@wakeup_lcd when _as0 is NULL (%s,%d)", __FILE__, __LINE__);
            }
        } else {
            qDebug("buttondriver: unknown cmd \"%s\"", text.constData());
        }
        return;
    }
    const QString legend = QString::fromLatin1(text);
    if (id == ALL_BUTTONS) {
        const QMap<qint32, IButton *> all = m_buttons;
        for (auto it = all.cbegin(); it != all.cend(); ++it)
            applyText(it.key(), it.value(), legend, flags);
        return;
    }
    IButton *b = button(id);
    if (!b) {
        printf("buttondriver:invalid button id %d, text %s\n", id, text.constData());
        return;
    }
    applyText(id, b, legend, flags);
}

void ButtonSetterImpl::applyText(qint32 id, IButton *b, const QString &text, quint32 flags)
{
    if (flags & TEXT_SCROLL) {
        AnimState a;
        if (setupScroll(text, flags, &a.scroll)) {
            // The animation shows the legend, from the next tick on.
            a.repeat = 0;
            a.rate = 60;
            m_animations[b] = std::move(a);
            touch(b);
            startTimer();
            return;
        }
    }
    m_animations.erase(b);
    b->setText(text, qint32(flags));
    if (m_observer)
        m_observer->textApplied(id, text, qint32(flags));
    touch(b);
}

// ---- Pictures -------------------------------------------------------------

void ButtonSetterImpl::uploadImage(const Record &r)
{
    FaceImage img;
    if (!img.setData(r.data.constData(), r.data.size())) {
        printf("buttondriver:failed to upload image %d\n", r.id);
        return;
    }
    m_images.insert(r.id, img); // under ids 0..22 it replaces a built-in
    printf("buttondriver:image uploaded %d\n", r.id);
}

void ButtonSetterImpl::buttonImage(qint32 id, qint32 imageId)
{
    const auto it = m_images.constFind(imageId);
    if (it == m_images.constEnd()) {
        printf("buttondriver:invalid image specified %d,image\n", imageId);
        return;
    }
    const FaceImage image = *it;
    if (id == ALL_BUTTONS) {
        const QMap<qint32, IButton *> all = m_buttons;
        for (auto b = all.cbegin(); b != all.cend(); ++b)
            if (takesAllButtonPictures(b.key(), b.value()))
                applyButtonImage(b.key(), b.value(), imageId, image);
        return;
    }
    IButton *b = button(id);
    if (!b) {
        printf("buttondriver:invalid button id %d, setButtonImage\n", id);
        return;
    }
    applyButtonImage(id, b, imageId, image);
}

void ButtonSetterImpl::applyButtonImage(qint32 id, IButton *b, qint32 imageId,
                                        const FaceImage &image)
{
    if (b->isLED())
        return;
    m_animations.erase(b);
    b->setImage(image, imageId);
    if (m_observer)
        m_observer->imageApplied(id, image, imageId);
    touch(b);
}

void ButtonSetterImpl::imageSeq(const Record &r)
{
    AnimState a;
    a.imageIds = r.imageIds; // checked frame by frame when each comes due
    a.repeat = r.repeat;
    a.rate = r.rate;
    if (r.id == ALL_BUTTONS) {
        for (auto it = m_buttons.cbegin(); it != m_buttons.cend(); ++it)
            if (takesAllButtonPictures(it.key(), it.value())) {
                m_animations[it.value()] = a;
                touch(it.value());
            }
    } else {
        IButton *b = button(r.id);
        if (!b) {
            printf("buttondriver:invalid button id %d, imageSeq\n", r.id);
            return;
        }
        m_animations[b] = a;
        touch(b);
    }
    if (!m_animations.empty())
        startTimer();
}

// ---- Virtual buttons --------------------------------------------------------

void ButtonSetterImpl::createVirtual(qint32 id)
{
    if (m_buttons.contains(id)) {
        printf("buttondriver:virtual button already created id %d, mapVirtual\n", id);
        return;
    }
    m_virtuals.push_back(std::make_unique<ButtonVirtual>(id));
    m_buttons.insert(id, m_virtuals.back().get());
}

void ButtonSetterImpl::mapVirtual(qint32 virtualId, qint32 physicalId)
{
    IButton *v = button(virtualId);
    if (!v) {
        printf("buttondriver:invalid button id %d, mapVirtual\n", virtualId);
        return;
    }
    if (!v->isVirtual()) {
        printf("buttondriver:invalid button id %d, button not virtual\n", virtualId);
        return;
    }
    IButton *p = button(physicalId);
    if (!p) {
        printf("buttondriver:invalid button id %d, mapVirtual\n", physicalId);
        return;
    }
    if (p->isVirtual()) {
        printf("buttondriver:invalid button id %d, button is virtual\n", physicalId);
        return;
    }
    // Earlier partners of either side are let go first, so that no button
    // is left pointing at one that points elsewhere.
    if (IButton *old = v->mapped())
        old->setMapped(nullptr);
    if (IButton *old = p->mapped())
        old->setMapped(nullptr);
    v->setMapped(p);
    p->setMapped(v);
    touch(v);
}

// ---- Brightness -------------------------------------------------------------

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// "<word> <integer>": the word, and the integer when one follows.
void splitLevelLine(const QByteArray &line, QByteArray *word, bool *hasNumber, int *number)
{
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n && isBlank(line[i]))
        ++i;
    const qsizetype start = i;
    while (i < n && !isBlank(line[i]))
        ++i;
    *word = line.mid(start, i - start);
    while (i < n && isBlank(line[i]))
        ++i;
    bool negative = false;
    if (i < n && (line[i] == '-' || line[i] == '+'))
        negative = line[i++] == '-';
    qint64 v = 0;
    int digits = 0;
    for (; i < n && line[i] >= '0' && line[i] <= '9'; ++i, ++digits) {
        v = v * 10 + (line[i] - '0');
        if (v > INT_MAX)
            break; // not a level any more
    }
    *hasNumber = digits > 0 && v <= INT_MAX;
    *number = int(negative ? -v : v);
}

} // namespace

void ButtonSetterImpl::reconfig()
{
    printf("buttondriver:reconfig \n");
    QFile file(m_levelFile);
    if (!file.open(QIODevice::ReadOnly))
        return; // keep the levels
    // A level file is a couple of lines; reading a bounded amount keeps a
    // device or a stray huge file from stalling the GUI thread.
    const QByteArray content = file.read(64 * 1024);
    for (QByteArray line : content.split('\n')) {
        const qsizetype zero = line.indexOf('\0');
        if (zero >= 0)
            line.truncate(zero);
        line.truncate(255);
        QByteArray word;
        bool hasNumber = false;
        int number = 0;
        splitLevelLine(line, &word, &hasNumber, &number);
        if (word.isEmpty())
            continue;
        if (word == "led") {
            if (hasNumber)
                m_ledLevel = number;
        } else if (word == "lcd") {
            if (hasNumber)
                m_lcdLevel = number;
        } else {
            printf("buttondriver:unknown type %s\n", word.constData());
        }
    }
}

} // namespace buttondriver
