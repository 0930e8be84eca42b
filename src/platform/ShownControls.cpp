#include "platform/ShownControls.h"

namespace {

constexpr char16_t Delete = 0x7F;
constexpr char16_t FirstControlPicture = 0x2400;
constexpr char16_t DeletePicture = 0x2421;

bool IsShownControl(char16_t c) {
    return (c < 0x20 && c != u'\t') || c == Delete;
}

} // namespace

QString EscapedControls(QStringView text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (!IsShownControl(code)) {
            shown.append(c);
        } else if (code == u'\r') {
            shown.append(QLatin1StringView("\\r"));
        } else if (code == u'\n') {
            shown.append(QLatin1StringView("\\n"));
        } else {
            shown.append(QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0')));
        }
    }
    return shown;
}

QString ControlPictures(QString text) {
    for (QChar& c : text) {
        const char16_t code = c.unicode();
        if (IsShownControl(code)) {
            c = QChar(code == Delete ? DeletePicture : char16_t(FirstControlPicture + code));
        }
    }
    return text;
}
