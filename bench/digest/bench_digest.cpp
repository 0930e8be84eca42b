// Measures our MD5 against OpenSSL's in one run: bulk throughput, and the short inputs the APOP
// login actually digests. Each figure is the best of a few repetitions, so that a moment of
// noise on a shared machine does not decide the ratio.

#include "digest/MD5Hash.h"

#include <QByteArray>
#include <QString>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr std::size_t BulkBytes = 256u << 20;
constexpr std::size_t ChunkBytes = 64u << 10;
constexpr std::size_t ShortBytes = 40;
constexpr int ShortDigests = 1'000'000;
constexpr int Repetitions = 5;

// Something the optimiser cannot see through, so no digest is skipped as unused.
volatile std::uint32_t sink;

// Takes turns between the contenders in every repetition, so that a stretch of load from
// elsewhere on the machine slows both rather than whichever happened to run then.
std::vector<double> BestSeconds(const std::vector<std::function<void()>>& contenders) {
    std::vector<double> best(contenders.size(), 1e30);
    for (int i = 0; i < Repetitions; ++i) {
        for (std::size_t c = 0; c < contenders.size(); ++c) {
            const auto start = std::chrono::steady_clock::now();
            contenders[c]();
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            best[c] = std::min(best[c], took.count());
        }
    }
    return best;
}

std::vector<unsigned char> RandomBytes(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    std::uint64_t x = 0x9e3779b97f4a7c15u;
    for (auto& byte : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        byte = static_cast<unsigned char>(x >> 32);
    }
    return bytes;
}

struct OpenSsl {
    const EVP_MD* md;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    explicit OpenSsl(const EVP_MD* digest) : md(digest) {}
    ~OpenSsl() { EVP_MD_CTX_free(ctx); }

    void Digest(const unsigned char* data, std::size_t size, std::size_t chunk,
                unsigned char* out) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        for (std::size_t at = 0; at < size; at += chunk) {
            EVP_DigestUpdate(ctx, data + at, std::min(chunk, size - at));
        }
        unsigned int length = 0;
        EVP_DigestFinal_ex(ctx, out, &length);
    }
};

void OursDigest(const unsigned char* data, std::size_t size, std::size_t chunk) {
    using namespace MD5Hash_Module;
    DigestReset();
    for (std::size_t at = 0; at < size; at += chunk) {
        DigestFeed(std::min(chunk, size - at), reinterpret_cast<const char*>(data + at));
    }
    DigestFinish();
}

// The short inputs differ from one digest to the next, as greetings and passwords do.
void Vary(unsigned char* input, int i) {
    std::memcpy(input, &i, sizeof i);
}

void Row(const char* what, const char* unit, double ours, double openssl) {
    std::printf("%-30s %12.1f %12.1f %8.2f   %s\n", what, ours, openssl, ours / openssl, unit);
}

} // namespace

int main() {
    OpenSsl openssl(EVP_md5());
    // EVP_md5() makes OpenSSL 3 look the algorithm up again at every init, which dominates
    // short inputs; a digest fetched once shows what OpenSSL itself can do.
    EVP_MD* fetchedMd5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
    OpenSsl fetched(fetchedMd5);
    unsigned char out[EVP_MAX_MD_SIZE];

    const auto bulk = RandomBytes(BulkBytes);
    // Both must agree before their speeds mean anything.
    OursDigest(bulk.data(), bulk.size(), ChunkBytes);
    openssl.Digest(bulk.data(), bulk.size(), ChunkBytes, out);
    const QString ours = MD5Hash_Module::DigestRender();
    const QString theirs = QString::fromLatin1(
        QByteArray::fromRawData(reinterpret_cast<const char*>(out), 16).toHex());
    if (ours != theirs) {
        std::fprintf(stderr, "digests differ: ours %s, OpenSSL %s\n", qPrintable(ours),
                     qPrintable(theirs));
        return 1;
    }

    const double bulkMb = double(BulkBytes) / 1e6;
    const auto bulkTimes = BestSeconds({
        [&] {
            OursDigest(bulk.data(), bulk.size(), ChunkBytes);
            sink = MD5Hash_Module::DigestState[0];
        },
        [&] {
            openssl.Digest(bulk.data(), bulk.size(), ChunkBytes, out);
            sink = out[0];
        },
    });

    auto input = RandomBytes(ShortBytes);
    const auto shortTimes = BestSeconds({
        [&] {
            for (int i = 0; i < ShortDigests; ++i) {
                Vary(input.data(), i);
                OursDigest(input.data(), ShortBytes, ShortBytes);
                sink = MD5Hash_Module::DigestState[0];
            }
        },
        [&] {
            for (int i = 0; i < ShortDigests; ++i) {
                Vary(input.data(), i);
                openssl.Digest(input.data(), ShortBytes, ShortBytes, out);
                sink = out[0];
            }
        },
        [&] {
            for (int i = 0; i < ShortDigests; ++i) {
                Vary(input.data(), i);
                fetched.Digest(input.data(), ShortBytes, ShortBytes, out);
                sink = out[0];
            }
        },
    });

    // What the login really pays: the digest rendered as hex text.
    const auto textTimes = BestSeconds({
        [&] {
            for (int i = 0; i < ShortDigests; ++i) {
                Vary(input.data(), i);
                const QString hex = DigestBytes(
                    QByteArrayView(reinterpret_cast<const char*>(input.data()), ShortBytes));
                sink = hex.at(0).unicode();
            }
        },
        [&] {
            for (int i = 0; i < ShortDigests; ++i) {
                Vary(input.data(), i);
                openssl.Digest(input.data(), ShortBytes, ShortBytes, out);
                const QString hex = QString::fromLatin1(
                    QByteArray::fromRawData(reinterpret_cast<const char*>(out), 16).toHex());
                sink = hex.at(0).unicode();
            }
        },
    });

    std::printf("MD5, best of %d runs (OpenSSL %s, EVP_md5)\n", Repetitions,
                OpenSSL_version(OPENSSL_VERSION_STRING));
    std::printf("%-30s %12s %12s %8s\n", "", "ours", "OpenSSL", "ratio");
    const double thousands = ShortDigests / 1e3;
    Row("256 MB in 64 KB chunks", "MB/s", bulkMb / bulkTimes[0], bulkMb / bulkTimes[1]);
    Row("40-byte inputs, raw digest", "thousand digests/s", thousands / shortTimes[0],
        thousands / shortTimes[1]);
    Row("  same, MD5 fetched once", "thousand digests/s", thousands / shortTimes[0],
        thousands / shortTimes[2]);
    Row("40-byte inputs, hex text", "thousand digests/s", thousands / textTimes[0],
        thousands / textTimes[1]);
    EVP_MD_free(fetchedMd5);
    return 0;
}
