#include "ui/Picture.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <stdexcept>

#include "ui/JpegLoader.h"

namespace quor::ui {
namespace {

// Bitmaps and JPEGs of a kiosk screen are small; a bigger file is broken.
constexpr qint64 kMaxPictureFileSize = 64 << 20;

[[noreturn]] void Fail(const QString& path, const QString& why) {
  throw std::runtime_error((path + QStringLiteral(": ") + why).toStdString());
}

}  // namespace

QImage LoadPicture(const QString& path) {
  const QString ext = QFileInfo(path).suffix().toLower();
  if (ext != QLatin1String("jpg") && ext != QLatin1String("jpeg") && ext != QLatin1String("bmp"))
    Fail(path, ext.isEmpty() ? QStringLiteral("no picture file extension")
                             : QStringLiteral("unknown picture file extension (.%1)").arg(ext));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) Fail(path, file.errorString());
  if (file.size() > kMaxPictureFileSize) Fail(path, QStringLiteral("picture file too large"));
  // Read what the file holds, in chunks, never more than the cap: asking for
  // the cap at once would reserve that much memory for every small glyph.
  QByteArray data;
  data.reserve(static_cast<qsizetype>(file.size()));
  char chunk[16384];
  for (qint64 n; (n = file.read(chunk, sizeof chunk)) > 0;) {
    data.append(chunk, static_cast<qsizetype>(n));
    if (data.size() > kMaxPictureFileSize) Fail(path, QStringLiteral("picture file too large"));
  }
  if (ext == QLatin1String("bmp")) {
    // The header's size is looked at before any pixel memory is taken: a
    // bitmap claiming to be huge is refused, as a huge JPEG is.
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "BMP");
    const QSize size = reader.size();
    if (!size.isValid()) Fail(path, QStringLiteral("not a valid bitmap"));
    if (size.width() > kMaxJpegSide || size.height() > kMaxJpegSide)
      Fail(path,
           QStringLiteral("picture too large (%1 x %2)").arg(size.width()).arg(size.height()));
    QImage image;
    if (!reader.read(&image)) Fail(path, QStringLiteral("not a valid bitmap"));
    return image;
  }
  try {
    return DecodeJpeg(data);
  } catch (const std::runtime_error& e) {
    Fail(path, QString::fromUtf8(e.what()));
  }
}

Picture::Picture(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground, true);
  setAutoFillBackground(false);
}

void Picture::SetStretch(bool stretch) {
  stretch_ = stretch;
  update();
}

void Picture::SetImage(const QImage& image) {
  image_ = image;
  update();
}

void Picture::LoadFromFile(const QString& path) {
  SetImage(LoadPicture(path));
}

void Picture::paintEvent(QPaintEvent*) {
  if (image_.isNull()) return;
  QPainter painter(this);
  if (stretch_) {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(rect(), image_);
  } else {
    painter.drawImage(QPoint(0, 0), image_);
  }
}

void Picture::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void Picture::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->pos());
  pressed_ = false;
  event->accept();
  if (click) emit clicked();
}

}  // namespace quor::ui
