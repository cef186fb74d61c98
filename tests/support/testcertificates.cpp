#include "testcertificates.h"

#include <QFile>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

void Check(bool ok, const char* what) {
  if (!ok)
    qFatal("TestCertificates: %s failed", what);
}

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EVP_EC_gen");
  return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  Check(extension != nullptr, "X509V3_EXT_conf_nid");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for `subject` with `key`, signed by `issuerKey` (itself when `issuer` is null),
// valid from an hour ago until `seconds` from now.
Certificate Issue(const char* subject, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, qint64 seconds,
                  bool authority) {
  static long serial = 1;
  Certificate certificate(X509_new());
  X509* c = certificate.get();
  Check(X509_set_version(c, 2) == 1, "X509_set_version");
  ASN1_INTEGER_set(X509_get_serialNumber(c), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), static_cast<long>(seconds));
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(subject), -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : name);
  X509* signer = issuer ? issuer : c;
  if (authority) {
    AddExtension(c, signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(c, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(c, signer, NID_basic_constraints, "CA:FALSE");
    AddExtension(c, signer, NID_key_usage, "critical,digitalSignature");
    AddExtension(c, signer, NID_ext_key_usage, "serverAuth");
    AddExtension(c, signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  Check(X509_sign(c, issuerKey, EVP_sha256()) > 0, "X509_sign");
  return certificate;
}

QByteArray Pem(X509* certificate) {
  Bio bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM_write_bio_X509");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return QByteArray(data, size);
}

QByteArray Pem(EVP_PKEY* key) {
  Bio bio(BIO_new(BIO_s_mem()));
  Check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM_write_bio_PrivateKey");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return QByteArray(data, size);
}

} // namespace

TestCertificates TestCertificates::Make(const QString& folder, qint64 serverSeconds, qint64 intermediateSeconds) {
  const Key rootKey = NewKey();
  const Certificate root =
      Issue("Tarvik Run-time Test Authority", rootKey.get(), nullptr, rootKey.get(), 10LL * 365 * 86400, true);
  Key intermediateKey;
  Certificate intermediate;
  if (intermediateSeconds > 0) {
    intermediateKey = NewKey();
    intermediate = Issue("Tarvik Run-time Intermediate", intermediateKey.get(), root.get(), rootKey.get(),
                         intermediateSeconds, true);
  }
  const Key serverKey = NewKey();
  const Certificate server = Issue("127.0.0.1", serverKey.get(), intermediate ? intermediate.get() : root.get(),
                                   intermediate ? intermediateKey.get() : rootKey.get(), serverSeconds, false);

  TestCertificates made;
  made.authorityFile = folder + QStringLiteral("/runtime-ca.pem");
  QFile file(made.authorityFile);
  Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(Pem(root.get())) > 0, "writing the CA");
  file.close();
  made.chain << QSslCertificate(Pem(server.get()));
  if (intermediate)
    made.chain << QSslCertificate(Pem(intermediate.get()));
  made.key = QSslKey(Pem(serverKey.get()), QSsl::Ec);
  Check(!made.chain.first().isNull() && !made.key.isNull(), "reading the certificates back");
  made.serverNotAfter = made.chain.first().expiryDate().toUTC();
  if (intermediate)
    made.intermediateNotAfter = made.chain.at(1).expiryDate().toUTC();
  return made;
}
