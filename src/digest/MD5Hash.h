#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

// The MD5 digest (RFC 1321) behind the APOP login. The mail server checks our value with its
// own MD5, so this must be standard MD5 for every input, rendered as 32 lower-case hex digits.
//
// One streaming core with module-level state, shared by the whole program: only the event-loop
// thread may digest, and one digest must finish before the next starts.
namespace MD5Hash_Module {

// Digests the code page 932 bytes of the text, as the mail server sees them on the wire.
QString DigestText(const QString& text);
// Digests bytes as they are, for wire text that is already bytes.
QString DigestBytes(QByteArrayView bytes);

// The streaming core, in calling order. DigestFeed may be called any number of times.
void DigestReset();
void DigestFeed(std::size_t count, const char* bytes);
void DigestFinish();
QString DigestRender();

enum class Round { FF, GG, HH, II };

// Bytes fed since the last reset. 64-bit so that inputs past 2 GiB keep a correct length field.
extern std::uint64_t DigestByteCount;
// The words A, B, C, D; after DigestFinish their little-endian bytes are the digest.
extern std::array<std::uint32_t, 4> DigestState;
// Bytes of the current block not yet transformed: positions 0 .. DigestByteCount % 64 - 1.
extern std::array<unsigned char, 64> DigestBuffer;

} // namespace MD5Hash_Module

using MD5Hash_Module::DigestBytes;
using MD5Hash_Module::DigestText;
