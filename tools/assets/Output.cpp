#include "Output.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <stdexcept>

#include "Paint.h"
#include "Pictures.h"

namespace quor::tools {

QString CheckEnvironment() {
  const QString face = QString::fromLatin1(kFaceFamily);
  if (!QFontDatabase::families().contains(face))
    return QStringLiteral("the font \"%1\" is not installed (Debian package fonts-noto-cjk)")
        .arg(face);
  if (!QFontDatabase::styles(face).contains(QStringLiteral("Bold")))
    return QStringLiteral("the font \"%1\" has no Bold style (Debian package fonts-noto-cjk)")
        .arg(face);
  if (!QImageWriter::supportedImageFormats().contains("jpeg"))
    return QStringLiteral("this Qt has no JPEG image writer (its imageformats plugin is missing)");
  return {};
}

QByteArray Encode(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (qstrcmp(format, "jpeg") == 0) writer.setQuality(kJpegQuality);
  if (!writer.write(image))
    throw std::runtime_error("cannot encode a " + std::string(format) +
                             " picture: " + writer.errorString().toStdString());
  return bytes;
}

QByteArray ResourceList(const std::vector<AssetFile>& pictures) {
  QByteArray qrc = "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"";
  qrc += kResourcePrefix;
  qrc += "\">\n";
  for (const AssetFile& f : pictures) qrc += "  <file>" + f.name.toUtf8() + "</file>\n";
  qrc += "</qresource>\n</RCC>\n";
  return qrc;
}

std::vector<AssetFile> RenderAssets() {
  std::vector<AssetFile> files;
  const QImage background = DrawBackground();
  files.push_back({QStringLiteral("bg.jpg"), Encode(background, "jpeg")});
  files.push_back({QStringLiteral("numpad.jpg"), Encode(DrawNumberPad(), "jpeg")});
  files.push_back({QStringLiteral("pypad.jpg"), Encode(DrawLetterPad(), "jpeg")});
  for (const ButtonFace& b : kButtons) {
    const QString name = QString::fromLatin1(b.name.data(), static_cast<int>(b.name.size()));
    files.push_back({name + QStringLiteral(".bmp"), Encode(DrawGlyph(b, background), "bmp")});
  }
  files.push_back({QStringLiteral("NONAME.BMP"), Encode(DrawNoPhoto(), "bmp")});
  files.push_back({QString::fromLatin1(kResourceList), ResourceList(files)});
  return files;
}

QString WriteAssets(const QString& dir, const std::vector<AssetFile>& files) {
  QDir out(dir);
  const QFileInfo info(dir);
  if (info.exists() && !info.isDir())
    return QStringLiteral("%1 exists and is not a folder").arg(dir);
  if (!out.exists() && !QDir().mkpath(dir))
    return QStringLiteral("cannot create the folder %1").arg(dir);
  for (const AssetFile& f : files) {
    const QString path = out.filePath(f.name);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
      return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    if (file.write(f.bytes) != f.bytes.size() || !file.commit())
      return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
  }
  return {};
}

}  // namespace quor::tools
