#include "ui/HandlerGuard.h"

#include <QStringDecoder>
#include <string>

#include "platform/Codepage.h"

namespace quor::ui {

QString FailureText(const char* what) {
  if (what == nullptr || *what == '\0') return QStringLiteral("Unknown failure");
  const QByteArray bytes(what);
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  const std::u16string wide = platform::GbkToUtf16(std::string(what));
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

}  // namespace quor::ui
