#include "Preview.h"

#include <QDir>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>

#include <string_view>

#include "Paint.h"
#include "Pictures.h"

namespace quor::tools {

namespace {

const ButtonFace* Find(std::string_view name) {
  for (const ButtonFace& b : kButtons)
    if (b.name == name) return &b;
  return nullptr;
}

// A button as the window draws it: the glyph from the button's top-left
// corner, clipped to the button, with the rounded mask on the menu and the
// player row.
void PutButton(QPainter& p, const QImage& background, std::string_view name) {
  const ButtonFace* b = Find(name);
  if (b == nullptr) return;
  const QImage glyph = DrawGlyph(*b, background);
  const QRectF place = ToRectF(b->place);
  p.save();
  QPainterPath clip;
  if (b->family == Family::kMenu || b->family == Family::kPlayer)
    clip.addRoundedRect(place, 4, 4);
  else
    clip.addRect(place);
  p.setClipPath(clip);
  const int shiftY = (b->place.h - glyph.height()) / 2;
  p.drawImage(QPoint(b->place.x, b->place.y + (shiftY < -1 ? shiftY : 0)), glyph);
  p.restore();
}

void PutGroup(QPainter& p, const QImage& background, const char* prefix, int count) {
  for (int i = 1; i <= count; ++i)
    PutButton(p, background, (QString::fromLatin1(prefix) + QString::number(i)).toStdString());
}

void Label(QPainter& p, const Rect& r, const QString& text, qreal px, const QColor& colour,
           int flags) {
  p.save();
  p.setFont(LabelFont(px));
  p.setPen(colour);
  p.drawText(ToRectF(r), flags, text);
  p.restore();
}

void Status(QPainter& p, const QString& text) {
  Label(p, kStatusLine, text, 21, Qt::white, Qt::AlignCenter);
}

void SongRows(QPainter& p, const QStringList& rows, int blueRow) {
  for (int i = 0; i < rows.size() && i < kSongRows; ++i) {
    const Rect r{kSongRowFirst.x, kSongRowFirst.y + i * kSongRowStep, kSongRowFirst.w,
                 kSongRowFirst.h};
    Label(p, r, rows[i], 28, i == blueRow ? QColor(0, 0, 255) : Qt::white,
          Qt::AlignLeft | Qt::AlignTop);
  }
}

const QStringList kSongs = {
    QStringLiteral("100231 林小雨.月光下的约定"), QStringLiteral("100232 陈子墨.海边的风"),
    QStringLiteral("100245 王一凡.春天里的歌"),   QStringLiteral("100263 张晓琪.星河远方"),
    QStringLiteral("100270 李思远.老街的故事"),   QStringLiteral("100288 赵天乐.我们的青春"),
    QStringLiteral("100301 周可欣.城市的灯火"),
};

void Photos(QPainter& p) {
  const QImage none = DrawNoPhoto();
  const QStringList names = {QStringLiteral("林小雨"), QStringLiteral("陈子墨"),
                             QStringLiteral("王一凡"), QStringLiteral("张晓琪"),
                             QStringLiteral("李思远"), QStringLiteral("赵天乐")};
  for (int i = 0; i < 6; ++i) {
    p.drawImage(ToRectF(kPhotoPlaces[i]), none);
    Label(p, kPhotoNamePlaces[i], names[i], 24, Qt::white, Qt::AlignCenter);
  }
}

void Keypad(QPainter& p, bool letters) {
  const QImage pad = letters ? DrawLetterPad() : DrawNumberPad();
  p.fillRect(ToRectF(kPadPanel), QColor(0xf0, 0xf0, 0xf0));
  p.drawImage(QPoint(kPadPanel.x + 1, kPadPanel.y + 1), pad);
  const Rect edit = letters ? kPadLetterEdit : kPadNumEdit;
  const Rect onWindow{kPadPanel.x + 1 + edit.x, kPadPanel.y + 1 + edit.y, edit.w, edit.h};
  p.fillRect(ToRectF(onWindow), Qt::black);
  Label(p, {onWindow.x + 2, onWindow.y, onWindow.w - 4, onWindow.h},
        letters ? QStringLiteral("YXD") : QStringLiteral("1002"), letters ? 25 : 27, Qt::white,
        Qt::AlignLeft | Qt::AlignVCenter);
}

}  // namespace

QImage ComposeScene(const QString& scene) {
  const QImage background = DrawBackground();
  QImage screen = background.copy();
  QPainter p(&screen);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QString status = QStringLiteral("欢迎使用QuorKTV视频点播系统");
  if (scene == QLatin1String("singers")) {
    Photos(p);
    PutGroup(p, background, "singerBitBtn", 3);
    PutButton(p, background, "photoprevBitBtn1");
    PutButton(p, background, "photonextBitBtn2");
  } else if (scene == QLatin1String("songs")) {
    SongRows(p, kSongs, 2);
    PutGroup(p, background, "songtypeBitBtn", 8);
    PutButton(p, background, "songlistprevBitBtn1");
    PutButton(p, background, "songlistnextBitBtn2");
    status = QStringLiteral("正在播放：100012 陈子墨.夜空中的星");
  } else if (scene == QLatin1String("letters") || scene == QLatin1String("numbers")) {
    PutButton(p, background, "PYselBitBtn");
    PutButton(p, background, "BMselBitBtn");
    Keypad(p, scene == QLatin1String("letters"));
  } else if (scene == QLatin1String("queue")) {
    SongRows(p, kSongs.mid(0, 4), 1);
    PutButton(p, background, "selectedsongBitBtn1");
    PutButton(p, background, "selectedsongBitBtn2");
    PutButton(p, background, "songlistprevBitBtn1");
    PutButton(p, background, "songlistnextBitBtn2");
  } else if (scene == QLatin1String("languages")) {
    PutGroup(p, background, "LanguageBitBtn", 5);
  } else if (scene == QLatin1String("drinks")) {
    PutGroup(p, background, "jsBitBtn", 5);
  }
  Status(p, status);
  PutGroup(p, background, "selectBitBtn", 6);
  PutGroup(p, background, "controlBitBtn", 8);
  p.end();
  return screen;
}

QString WritePreviews(const QString& dir) {
  const char* scenes[] = {"start",   "singers", "songs",     "letters",
                          "numbers", "queue",   "languages", "drinks"};
  for (const char* scene : scenes) {
    const QString path = QDir(dir).filePath(QStringLiteral("preview-%1.png").arg(scene));
    if (!ComposeScene(QString::fromLatin1(scene)).save(path, "PNG"))
      return QStringLiteral("cannot write %1").arg(path);
  }
  return {};
}

}  // namespace quor::tools
