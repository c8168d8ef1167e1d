// quorvod-make-assets <outdir>: draws the pictures of the terminal's window
// into outdir. quorvod-make-assets --preview <dir>: also composes screens of
// the window from them (PNG), to look at the pictures in place.
#include <QGuiApplication>
#include <QString>

#include <cstdio>
#include <exception>

#include "Output.h"
#include "Preview.h"

namespace {

int Fail(const QString& why) {
  std::fprintf(stderr, "quorvod-make-assets: %s\n", why.toLocal8Bit().constData());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const bool preview = argc == 3 && qstrcmp(argv[1], "--preview") == 0;
  if (!(argc == 2 && argv[1][0] != '-') && !preview) {
    std::fprintf(stderr,
                 "usage: quorvod-make-assets <outdir>\n"
                 "       quorvod-make-assets --preview <dir>\n"
                 "Run with QT_QPA_PLATFORM=offscreen where no display is open.\n");
    return 2;
  }
  // The pictures never need a display: draw offscreen unless told otherwise.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  try {
    const QString why = quor::tools::CheckEnvironment();
    if (!why.isEmpty()) return Fail(why);
    const QString dir = QString::fromLocal8Bit(argv[argc - 1]);
    const auto files = quor::tools::RenderAssets();
    QString error = quor::tools::WriteAssets(dir, files);
    if (error.isEmpty() && preview) error = quor::tools::WritePreviews(dir);
    if (!error.isEmpty()) return Fail(error);
  } catch (const std::exception& e) {
    return Fail(QString::fromLocal8Bit(e.what()));
  }
  return 0;
}
