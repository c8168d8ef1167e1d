// Screens of the window composed from the pictures, as the window shows them,
// for looking at the pictures in place.
#pragma once

#include <QImage>
#include <QString>

namespace quor::tools {

// Scene names: "start", "singers", "songs", "letters", "numbers", "queue".
QImage ComposeScene(const QString& scene);

// Writes preview-<scene>.png for every scene into dir; returns an empty
// string or the reason of the failure.
QString WritePreviews(const QString& dir);

}  // namespace quor::tools
