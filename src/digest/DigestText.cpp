#include "digest/MD5Hash.h"

#include "platform/Cp932.h"

// Kept apart from the digest core so that code digesting bytes alone does not pull in the code
// page conversion.
namespace MD5Hash_Module {

QString DigestText(const QString& text) {
    return DigestBytes(TextToCp932(text));
}

} // namespace MD5Hash_Module
