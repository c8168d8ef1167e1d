#pragma once
// A picture control: paints its image at its top-left corner (unscaled) or
// stretched to its whole box; without an image it paints nothing and is a
// transparent click area (the keypad keys). Reports clicks.
// GUI thread only.

#include <QImage>
#include <QString>
#include <QWidget>

namespace quor::ui {

// Loads a picture file, choosing the decoder by the file's extension (case
// ignored): "jpg" and "jpeg" through the JPEG loader, "bmp" as a Windows
// bitmap. Paths starting with ":/" are compiled-in resources. Throws
// std::runtime_error naming the file when it is missing or unreadable, when
// its extension has no decoder, or when its content is broken.
QImage LoadPicture(const QString& path);

class Picture : public QWidget {
  Q_OBJECT
 public:
  explicit Picture(QWidget* parent = nullptr);

  void SetStretch(bool stretch);
  bool Stretch() const { return stretch_; }

  void SetImage(const QImage& image);
  const QImage& Image() const { return image_; }

  // LoadPicture(path) shown here; on failure the picture keeps what it
  // showed and the failure propagates.
  void LoadFromFile(const QString& path);

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage image_;
  bool stretch_ = false;
  bool pressed_ = false;
};

}  // namespace quor::ui
