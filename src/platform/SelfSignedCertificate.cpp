#include "platform/SelfSignedCertificate.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

namespace {

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;
using BigNumber = std::unique_ptr<BIGNUM, Deleter<BN_free>>;

// OpenSSL's reason for the last failure, emptying its error queue.
QString OpenSslError(const char* step) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = "unknown reason";
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    return QStringLiteral("%1 failed: %2").arg(QLatin1String(step), QLatin1String(text));
}

Bio ReadBio(const QByteArray& bytes) {
    return Bio(BIO_new_mem_buf(bytes.constData(), static_cast<int>(bytes.size())));
}

QByteArray BioBytes(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, size);
}

Key ReadKey(const QByteArray& pem) {
    const Bio bio = ReadBio(pem);
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    return key;
}

// Letters, digits, hyphens and dots, as in a DNS name: the only host names that may stand in
// a certificate's dNSName (an IA5String), and nothing that the extension's text form would
// take for a separator.
bool IsDnsName(const QString& name) {
    if (name.isEmpty() || name.size() > 253) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-' ||
               c == u'.';
    });
}

bool AddExtension(X509* certificate, X509V3_CTX* context, int nid, const QByteArray& value) {
    const Extension extension(X509V3_EXT_conf_nid(nullptr, context, nid, value.constData()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool SetName(X509* certificate, const QString& hostName) {
    // At most 64 characters in a common name.
    QString commonName = QStringLiteral("Quorlin on ") + hostName;
    if (!IsDnsName(hostName) || commonName.size() > 64) {
        commonName = QStringLiteral("Quorlin");
    }
    X509_NAME* name = X509_get_subject_name(certificate);
    const QByteArray utf8 = commonName.toUtf8();
    return X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char*>(utf8.constData()),
                                      static_cast<int>(utf8.size()), -1, 0) == 1 &&
           X509_set_issuer_name(certificate, name) == 1;
}

bool SetRandomSerial(X509* certificate) {
    // 159 random bits: positive and within the 20 octets RFC 5280 allows.
    const BigNumber serial(BN_new());
    return serial && BN_rand(serial.get(), 159, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
           BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool SetValidity(X509* certificate, const QDateTime& now) {
    time_t start = now.toSecsSinceEpoch();
    return X509_time_adj_ex(X509_getm_notBefore(certificate), -1, 0, &start) != nullptr &&
           X509_time_adj_ex(X509_getm_notAfter(certificate), CertificateValidityDays, 0, &start) !=
               nullptr;
}

bool AddExtensions(X509* certificate, const QString& hostName) {
    QByteArray names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    if (IsDnsName(hostName) && hostName.compare(u"localhost", Qt::CaseInsensitive) != 0) {
        names += ",DNS:" + hostName.toLatin1();
    }
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    return AddExtension(certificate, &context, NID_basic_constraints, "critical,CA:FALSE") &&
           AddExtension(certificate, &context, NID_key_usage, "critical,digitalSignature") &&
           AddExtension(certificate, &context, NID_ext_key_usage, "serverAuth") &&
           AddExtension(certificate, &context, NID_subject_key_identifier, "hash") &&
           AddExtension(certificate, &context, NID_subject_alt_name, names);
}

} // namespace

MadeCertificate MakeSelfSignedCertificate(const QString& hostName, const QDateTime& now) {
    MadeCertificate made;
    const Key key(EVP_EC_gen("P-256"));
    if (!key) {
        made.error = OpenSslError("making the key");
        return made;
    }
    const Certificate certificate(X509_new());
    if (!certificate || X509_set_version(certificate.get(), X509_VERSION_3) != 1 ||
        !SetRandomSerial(certificate.get()) || !SetName(certificate.get(), hostName) ||
        !SetValidity(certificate.get(), now) ||
        X509_set_pubkey(certificate.get(), key.get()) != 1 ||
        !AddExtensions(certificate.get(), hostName)) {
        made.error = OpenSslError("making the certificate");
        return made;
    }
    if (X509_sign(certificate.get(), key.get(), EVP_sha256()) == 0) {
        made.error = OpenSslError("signing the certificate");
        return made;
    }
    const Bio certificateOut(BIO_new(BIO_s_mem()));
    const Bio keyOut(BIO_new(BIO_s_mem()));
    if (!certificateOut || !keyOut ||
        PEM_write_bio_X509(certificateOut.get(), certificate.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1) {
        made.error = OpenSslError("writing the certificate");
        return made;
    }
    made.certificatePem = BioBytes(certificateOut.get());
    made.keyPem = BioBytes(keyOut.get());
    return made;
}

bool KeyMatchesCertificate(const QByteArray& certificatePem, const QByteArray& keyPem) {
    const Bio bio = ReadBio(certificatePem);
    const Certificate certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)
                                      : nullptr);
    const Key key = ReadKey(keyPem);
    const bool matches =
        certificate && key && X509_check_private_key(certificate.get(), key.get()) == 1;
    ERR_clear_error();
    return matches;
}

QSslKey PrivateKeyFromPem(const QByteArray& keyPem) {
    const Key key = ReadKey(keyPem);
    if (!key) {
        return {};
    }
    switch (EVP_PKEY_get_base_id(key.get())) {
    case EVP_PKEY_RSA:
        return QSslKey(keyPem, QSsl::Rsa);
    case EVP_PKEY_EC:
        return QSslKey(keyPem, QSsl::Ec);
    case EVP_PKEY_DSA:
        return QSslKey(keyPem, QSsl::Dsa);
    default:
        return {};
    }
}
