#include "pan_imagecontainer.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <vector>

namespace {

const char *const kDisplayBackground = "vacuum_bk.png";

// Width and height, both 16-bit, in one key.
quint32 sizeKey(int width, int height)
{
    return quint32(width) * 65536u + quint32(height);
}

} // namespace

// ---- StoredImage -----------------------------------------------------------

void PAN_ImageContainer::StoredImage::derive()
{
    if (m_derived)
        return;
    m_derived = true;
    if (m_pixmap.isNull())
        return;
    const QImage img = m_pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    int left = img.width(), top = img.height(), right = -1, bottom = -1;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            if (qAlpha(row[x]) >= 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return; // fully transparent: no shape at all
    m_rect = QRect(QPoint(left, top), QPoint(right, bottom));
    const QBitmap mask = QBitmap::fromImage(img.createAlphaMask(Qt::ThresholdAlphaDither));
    m_shape.addRegion(QRegion(mask));
}

const QPainterPath &PAN_ImageContainer::StoredImage::opaqueShape()
{
    derive();
    return m_shape;
}

const QRect &PAN_ImageContainer::StoredImage::opaqueRect()
{
    derive();
    return m_rect;
}

qint64 PAN_ImageContainer::StoredImage::bytes() const
{
    return qint64(m_pixmap.width()) * m_pixmap.height() * std::max(1, m_pixmap.depth() / 8);
}

// ---- PAN_ImageContainer ----------------------------------------------------

PAN_ImageContainer::PAN_ImageContainer(QObject *parent)
    : PAN_ImageContainer(imageDirFromArguments(QCoreApplication::arguments()), parent)
{
}

PAN_ImageContainer::PAN_ImageContainer(const QString &imageDir, QObject *parent)
    : QObject(parent), m_imageDir(imageDir)
{
    qDebug("using image dir %s", qPrintable(m_imageDir));
}

PAN_ImageContainer::~PAN_ImageContainer() = default;

QString PAN_ImageContainer::imageDirFromArguments(const QStringList &args)
{
    QString dir = QStringLiteral("./images2");
    // The last "-imdir <dir>" pair wins.
    for (int i = 0; i + 1 < args.size(); ++i)
        if (args.at(i) == QLatin1String("-imdir"))
            dir = args.at(i + 1);
    return dir;
}

QImage PAN_ImageContainer::load(const QString &name) const
{
    // A picture of the image directory replaces the built-in one of the same
    // name. Names come from layout and mapper files: they stay inside the
    // directory (no absolute paths, no "..").
    if (name.isEmpty() || QDir::isAbsolutePath(name)
        || name.split(QLatin1Char('/')).contains(QLatin1String("..")))
        return QImage();
    QImage img(QDir(m_imageDir).filePath(name));
    if (img.isNull())
        img = QImage(QStringLiteral(":/images2/") + name);
    return img;
}

QImage PAN_ImageContainer::getOriginal(const QString &name)
{
    const auto it = m_originals.constFind(name);
    if (it != m_originals.constEnd())
        return *it;
    QImage img = load(name);
    if (img.isNull()) {
        qWarning("image load failed %s (%s,%d)", qPrintable(name), __FILE__, __LINE__);
        return QImage();
    }
    img = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    m_originals.insert(name, img);
    return img;
}

PAN_ImageContainer::StoredImage *PAN_ImageContainer::get(const QString &name, int width,
                                                         int height)
{
    if (width <= 0 || height <= 0 || width > MaxSide || height > MaxSide) {
        qWarning("PAN_ImageContainer::get, invalid size %dx%d for %s (%s,%d)", width, height,
                 qPrintable(name), __FILE__, __LINE__);
        return nullptr;
    }
    const quint32 key = sizeKey(width, height);
    QHash<quint32, StoredImage *> &sizes = m_scaled[name];
    if (StoredImage *s = sizes.value(key, nullptr)) {
        s->m_lastUse = ++m_useCounter;
        return s;
    }

    QImage scaled;
    if (name == QLatin1String(kDisplayBackground)) {
        scaled = makeDisplayBackground(width, height);
    } else {
        const QImage original = getOriginal(name);
        if (original.isNull()) {
            qWarning("PAN_ImageContainer::getOriginal failed %s (%s,%d)", qPrintable(name),
                     __FILE__, __LINE__);
            if (sizes.isEmpty())
                m_scaled.remove(name);
            return nullptr;
        }
        scaled = original.size() == QSize(width, height)
                     ? original
                     : original.scaled(width, height, Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation);
    }
    QPixmap pm = QPixmap::fromImage(scaled);
    if (pm.isNull()) {
        qWarning("PAN_ImageContainer::get, cannot make %dx%d picture of %s (%s,%d)", width, height,
                 qPrintable(name), __FILE__, __LINE__);
        if (sizes.isEmpty())
            m_scaled.remove(name);
        return nullptr;
    }
    StoredImage *s = new StoredImage(pm, this);
    s->m_lastUse = ++m_useCounter;
    sizes.insert(key, s);
    m_scaledBytes += s->bytes();
    if (m_scaledBytes > m_budget)
        trim(s);
    return s;
}

void PAN_ImageContainer::setScaledBudget(qint64 bytes)
{
    m_budget = std::max<qint64>(bytes, 0);
    if (m_scaledBytes > m_budget)
        trim(nullptr);
}

void PAN_ImageContainer::trim(const StoredImage *keep)
{
    struct Entry
    {
        quint64 lastUse;
        QString name;
        quint32 key;
    };
    std::vector<Entry> entries;
    for (auto n = m_scaled.cbegin(); n != m_scaled.cend(); ++n)
        for (auto s = n.value().cbegin(); s != n.value().cend(); ++s)
            if (s.value() != keep)
                entries.push_back({s.value()->m_lastUse, n.key(), s.key()});
    std::sort(entries.begin(), entries.end(),
              [](const Entry &a, const Entry &b) { return a.lastUse < b.lastUse; });
    // Down to three quarters, so that the next pictures do not trim again
    // at once.
    const qint64 target = m_budget - m_budget / 4;
    for (const Entry &e : entries) {
        if (m_scaledBytes <= target)
            break;
        auto sizes = m_scaled.find(e.name);
        StoredImage *s = sizes.value().take(e.key);
        m_scaledBytes -= s->bytes();
        delete s;
        if (sizes.value().isEmpty())
            m_scaled.erase(sizes);
    }
}

void PAN_ImageContainer::reset()
{
    for (auto &sizes : m_scaled)
        qDeleteAll(sizes);
    m_scaled.clear();
    m_scaledBytes = 0;
}

int PAN_ImageContainer::scaledCount() const
{
    int n = 0;
    for (const auto &sizes : m_scaled)
        n += sizes.size();
    return n;
}

qint64 PAN_ImageContainer::memoryBytes() const
{
    qint64 bytes = 0;
    for (const QImage &img : m_originals)
        bytes += img.sizeInBytes();
    return bytes + m_scaledBytes;
}

QImage PAN_ImageContainer::makeDisplayBackground(int width, int height)
{
    QImage img(width, height, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    // The border: nested outlines growing more opaque towards the inside, so
    // the window seems set into the panel; wider windows get a wider border.
    const int outlines = std::clamp(width / 40, 2, std::max(2, std::min(width, height) / 4));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int i = 0; i < outlines; ++i) {
        const int alpha = 40 + (180 * (i + 1)) / outlines;
        p.setPen(QColor(8, 10, 9, std::min(alpha, 255)));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(i, i, width - 1 - 2 * i, height - 1 - 2 * i));
    }
    // The glass: opaque and nearly black, a touch lighter at the top.
    const QRect inner(outlines, outlines, width - 2 * outlines, height - 2 * outlines);
    if (inner.width() > 0 && inner.height() > 0) {
        QLinearGradient g(inner.topLeft(), inner.bottomLeft());
        g.setColorAt(0.0, QColor(26, 32, 30));
        g.setColorAt(0.45, QColor(10, 13, 12));
        g.setColorAt(1.0, QColor(6, 8, 7));
        p.fillRect(inner, g);
    }
    return img;
}
