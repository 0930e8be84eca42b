#include "gui/TrayPictureIcons.h"

#include <QString>

// The pictures are a resource of the static gui library; the linker keeps a library's resource
// only when something refers to it, and this is that reference. Outside any namespace, because
// the macro declares the resource's function where it stands.
static void EnsurePicturesLoaded() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(Pictures);
        return true;
    }();
    Q_UNUSED(loaded);
}

QIcon TrayPictureIcon(TrayPicture picture) {
    const int number = int(picture);
    if (number < 1 || number > TrayPictureCount) {
        return QIcon();
    }
    EnsurePicturesLoaded();
    return QIcon(QStringLiteral(":/pictures/Picture%1.xpm").arg(number));
}
