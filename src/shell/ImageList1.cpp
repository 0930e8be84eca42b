#include "shell/ImageList1.h"

#include <QString>

namespace ImageList1 {

QIcon Picture(int number) {
    if (number < 1 || number > Count) {
        return QIcon();
    }
    return QIcon(QStringLiteral(":/pictures/Picture%1.xpm").arg(number));
}

} // namespace ImageList1
