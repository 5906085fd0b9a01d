#ifndef BUTTON_SETTER_IMPL_H
#define BUTTON_SETTER_IMPL_H

// ButtonSetterImpl: applies batches of button-driver records to the buttons
// of one panel face: colours (scaled by the brightness levels), flashing,
// legends (scrolling when too wide), pictures and picture sequences, virtual
// buttons. Runs on the GUI thread; a 20 ms timer drives flashing and
// animations and runs only while there is something to drive.

#include "button_setter.h"
#include "face_image.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

class QIODevice;

namespace buttondriver {

class ButtonVirtual;
class IButton;
struct Record;

class ButtonSetterImpl : public QObject, public ButtonSetter
{
    Q_OBJECT

public:
    // The file the brightness levels are read from.
    static QString defaultLevelFile() { return QStringLiteral("/home/panel/buttonlevel"); }

    // Stores the built-in images and reads the brightness levels from
    // levelFile (both levels 100 when it cannot be read).
    explicit ButtonSetterImpl(const QString &levelFile = defaultLevelFile(),
                              QObject *parent = nullptr);
    ~ButtonSetterImpl() override;

    void process_messages(const std::vector<QByteArray> &batch) override;

    // Replaces the whole button table (the buttons are not owned) and the
    // handler of TYPE_FORWARD records. Flashing and animations of buttons
    // that are not in the new table end here.
    bool setButtons(const QMap<qint32, IButton *> &buttons, MessageHandler *handler = nullptr);

    // Re-reads the brightness levels ("led <percent>", "lcd <percent>").
    void reconfig();

    void setLevelFile(const QString &path) { m_levelFile = path; }
    QString levelFile() const { return m_levelFile; }
    void setObserver(ButtonObserver *observer) { m_observer = observer; }
    // Where the "@wakeup_lcd" command goes (none on a desktop host).
    void setWakeupSink(QIODevice *sink) { m_as0 = sink; }

    int ledLevel() const { return m_ledLevel; }
    int lcdLevel() const { return m_lcdLevel; }
    // The image stored under id (built-in or uploaded), or nullptr.
    const FaceImage *image(qint32 id) const;
    bool timerActive() const { return m_timer.isActive(); }
    bool isFlashing(IButton *button) const { return m_flashing.count(button) != 0; }
    bool isAnimating(IButton *button) const { return m_animations.count(button) != 0; }

    // The button table (physical buttons, and the virtual ones made since).
    const QMap<qint32, IButton *> &buttons() const { return m_buttons; }

    // A flash between two colours (scaled as shown); phase 0 while the
    // first colour shows (and before the first tick), 1 while the second.
    struct FlashInfo
    {
        quint8 color1[3];
        quint8 color2[3];
        quint32 ms1;
        quint32 ms2;
        int phase;
    };
    bool flashInfo(IButton *button, FlashInfo *info) const;
    // An animation: a scrolling legend (its text and flags) or a picture
    // sequence (its image ids, rate and repeat count).
    struct AnimInfo
    {
        bool scroll = false;
        QString text;
        quint32 flags = 0;
        std::vector<qint32> imageIds;
        quint32 rate = 0;
        quint32 repeat = 0;
    };
    bool animInfo(IButton *button, AnimInfo *info) const;

signals:
    // What the buttons of these ids show has changed: a batch has been
    // applied, or an animation ended. Flash phases and animation frames are
    // not reported: they follow from flashInfo and animInfo.
    void applied(const QList<qint32> &ids);

public slots:
    // One 20 ms step of flashing and animations.
    void update_timer();

private:
    struct FlashState
    {
        quint8 color1[3];
        quint8 color2[3];
        quint32 ms1;
        quint32 ms2;
        qint64 counter;
    };

    struct TextScroll
    {
        bool active = false;
        QString text;
        quint32 flags = 0;
        int steps = 0;
        int leadIn = 40;
        int tail = 10;
        FaceImage wide;
    };

    struct AnimState
    {
        std::vector<qint32> imageIds;
        quint32 repeat = 0; // 0: endless
        quint32 repeatCounter = 0;
        qint64 lastFrame = -1;
        quint32 rate = 0; // frames per second
        quint64 tick = 0;
        TextScroll scroll;
    };

    void dispatch(const QByteArray &bytes);
    // Notes that what b shows changed (for a mapped virtual button, its
    // partner's too).
    void touch(IButton *b);
    void reportTouched();
    IButton *button(qint32 id) const;
    int levelFor(const IButton *b) const;
    void startTimer();

    void color(const Record &r);
    void applyColor(qint32 id, IButton *b, const quint8 (&rgb)[3]);
    void color2(const Record &r);
    void applyColor2(IButton *b, const Record &r);
    void text(qint32 id, const QByteArray &text, quint32 flags);
    void applyText(qint32 id, IButton *b, const QString &text, quint32 flags);
    void uploadImage(const Record &r);
    void buttonImage(qint32 id, qint32 imageId);
    void applyButtonImage(qint32 id, IButton *b, qint32 imageId, const FaceImage &image);
    void imageSeq(const Record &r);
    void createVirtual(qint32 id);
    void mapVirtual(qint32 virtualId, qint32 physicalId);

    bool setupScroll(const QString &text, quint32 flags, TextScroll *scroll) const;
    void showColor(IButton *b, const quint8 (&rgb)[3]);
    void showFrame(IButton *b, AnimState &a, qint64 frame);
    static qint64 frameCount(const AnimState &a);

    QMap<qint32, IButton *> m_buttons;
    MessageHandler *m_handler = nullptr;
    ButtonObserver *m_observer = nullptr;
    QIODevice *m_as0 = nullptr;
    QMap<qint32, FaceImage> m_images;
    std::map<IButton *, FlashState> m_flashing;
    std::map<IButton *, AnimState> m_animations;
    // Virtual buttons made by TYPE_VIRTUAL belong to the setter: they live
    // as long as it does, even after setButtons drops them from the table,
    // because physical buttons may still name them as partners.
    std::vector<std::unique_ptr<ButtonVirtual>> m_virtuals;
    int m_ledLevel = 100;
    int m_lcdLevel = 100;
    QString m_levelFile;
    QTimer m_timer;
    QList<qint32> m_touched;
};

} // namespace buttondriver

#endif
