#include "platform/PrivateFile.h"

#include <QFile>

#include <sys/stat.h>

namespace {

// The process's file mode mask for as long as the object lives. The program is one thread, so
// no other file is made meanwhile.
class MaskedFileModes {
public:
    explicit MaskedFileModes(mode_t mask) : saved(::umask(mask)) {}
    ~MaskedFileModes() { ::umask(saved); }
    MaskedFileModes(const MaskedFileModes&) = delete;
    MaskedFileModes& operator=(const MaskedFileModes&) = delete;

private:
    mode_t saved;
};

constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

Result<> WritePrivateBytes(const QString& path, const QByteArray& content) {
    // The new file is written aside and renamed over the old one. Its copy is made with the mode
    // the mask leaves, or, when an old file exists, with that file's mode: that one is narrowed
    // first.
    QFile existing(path);
    if (existing.exists() && !existing.setPermissions(OwnerOnly)) {
        return Result<>::Failure(existing.errorString(), path);
    }
    const MaskedFileModes ownerOnly(S_IRWXG | S_IRWXO);
    return WriteBytes(path, content);
}
