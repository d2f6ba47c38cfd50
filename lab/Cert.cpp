#include "Cert.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>
#include <string>

namespace veltrin::lab {
namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertDeleter {
    void operator()(X509* c) const { X509_free(c); }
};
struct ExtDeleter {
    void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};

[[noreturn]] void failWith(const std::string& what) {
    const unsigned long code = ERR_get_error();
    char detail[256] = "";
    if (code != 0) {
        ERR_error_string_n(code, detail, sizeof detail);
    }
    throw std::runtime_error("TLS certificate: " + what + (code != 0 ? ": " : "") + detail);
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtDeleter> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) {
        failWith("cannot add an extension");
    }
}

}  // namespace

SslContext makeSelfSignedServerContext() {
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) {
        failWith("cannot make a key");
    }
    std::unique_ptr<X509, CertDeleter> cert(X509_new());
    if (!cert) {
        failWith("cannot make a certificate");
    }
    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof serial) != 1) {
        failWith("no random serial");
    }
    serial[0] &= 0x7F;  // a positive serial
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet =
        bn != nullptr && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    if (!serialSet) {
        failWith("cannot set the serial");
    }
    X509_set_version(cert.get(), 2);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("veltrin-lab"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1");
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        failWith("cannot sign");
    }

    SslContext ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx) {
        failWith("cannot make a TLS context");
    }
    if (SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1 ||
        SSL_CTX_check_private_key(ctx.get()) != 1) {
        failWith("the context refused the certificate");
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    return ctx;
}

}  // namespace veltrin::lab
