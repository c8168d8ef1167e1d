// Renders every picture to its file bytes and writes them with the resource
// list that the window build compiles in.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <vector>

namespace quor::tools {

struct AssetFile {
  QString name;  // file name inside the output folder
  QByteArray bytes;
};

inline constexpr char kResourceList[] = "assets.qrc";
inline constexpr char kResourcePrefix[] = "/assets";
inline constexpr int kJpegQuality = 92;

// Empty when the pictures can be drawn here; otherwise why not (a missing
// font or image writer).
QString CheckEnvironment();

// Every picture file, then the resource list naming them, in a fixed order.
// Throws std::runtime_error when an image cannot be encoded.
std::vector<AssetFile> RenderAssets();

// The resource list for the given picture files.
QByteArray ResourceList(const std::vector<AssetFile>& pictures);

// Writes the files into dir (created when missing). Each file is replaced
// whole or not at all. Returns an empty string or the reason of the failure.
QString WriteAssets(const QString& dir, const std::vector<AssetFile>& files);

// Encodes an image as JPEG or BMP bytes; throws std::runtime_error on failure.
QByteArray Encode(const QImage& image, const char* format);

}  // namespace quor::tools
