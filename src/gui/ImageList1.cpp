#include "gui/ImageList1.h"

#include <QString>

// The pictures are a resource of the static shell library; the linker keeps a library's
// resource only when something refers to it, and this is that reference. Outside any namespace,
// because the macro declares the resource's function where it stands.
static void EnsurePicturesLoaded() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(Pictures);
        return true;
    }();
    Q_UNUSED(loaded);
}

namespace ImageList1 {

QIcon Picture(TrayPicture picture) {
    const int number = int(picture);
    if (number < 1 || number > Count) {
        return QIcon();
    }
    EnsurePicturesLoaded();
    return QIcon(QStringLiteral(":/pictures/Picture%1.xpm").arg(number));
}

} // namespace ImageList1
