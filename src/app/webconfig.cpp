#include "app/webconfig.h"

#include "app/basicauth.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <yaml.h>

#include <memory>

namespace {

// A problem found in the file: where (a line number, or 0) and what.
struct Problem {
  std::size_t line = 0;
  QString what;
};

// The parsed file, freed on every way out.
struct Document {
  yaml_parser_t parser{};
  yaml_document_t document{};
  bool loaded = false;
  Document() { yaml_parser_initialize(&parser); }
  ~Document() {
    if (loaded)
      yaml_document_delete(&document);
    yaml_parser_delete(&parser);
  }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  yaml_node_t* Node(int index) { return yaml_document_get_node(&document, index); }
};

std::size_t Line(const yaml_node_t* node) {
  return node->start_mark.line + 1;
}

QString Scalar(const yaml_node_t* node) {
  return QString::fromUtf8(reinterpret_cast<const char*>(node->data.scalar.value), qsizetype(node->data.scalar.length));
}

// An empty value ("key:" alone, "~", "null") counts as left out.
bool IsNull(const yaml_node_t* node) {
  if (node->type != YAML_SCALAR_NODE || node->data.scalar.style != YAML_PLAIN_SCALAR_STYLE)
    return false;
  const QString text = Scalar(node);
  return text.isEmpty() || text == QLatin1String("~") || text.compare(QLatin1String("null"), Qt::CaseInsensitive) == 0;
}

// The pairs of a mapping node, its keys as text; a problem when it is not a mapping of text keys or
// a key comes twice.
bool Pairs(Document& doc, yaml_node_t* node, const QString& what, QList<QPair<QString, yaml_node_t*>>* pairs,
           Problem* problem) {
  if (node->type != YAML_MAPPING_NODE) {
    *problem = {Line(node), QStringLiteral("%1 must be a mapping of names to values").arg(what)};
    return false;
  }
  QSet<QString> seen;
  for (yaml_node_pair_t* pair = node->data.mapping.pairs.start; pair < node->data.mapping.pairs.top; ++pair) {
    yaml_node_t* key = doc.Node(pair->key);
    yaml_node_t* value = doc.Node(pair->value);
    if (!key || !value || key->type != YAML_SCALAR_NODE) {
      *problem = {Line(node), QStringLiteral("%1 must be a mapping of names to values").arg(what)};
      return false;
    }
    const QString name = Scalar(key);
    if (seen.contains(name)) {
      *problem = {Line(key), QStringLiteral("%1 is given twice").arg(name)};
      return false;
    }
    seen.insert(name);
    pairs->append({name, value});
  }
  return true;
}

bool Text(yaml_node_t* node, const QString& what, QString* text, Problem* problem) {
  if (node->type != YAML_SCALAR_NODE) {
    *problem = {Line(node), QStringLiteral("%1 must be a text").arg(what)};
    return false;
  }
  *text = Scalar(node);
  return true;
}

bool ReadFile(const QString& path, QByteArray* bytes) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return false;
  *bytes = file.readAll();
  return true;
}

// Whether the PEM private key belongs to the first PEM certificate, by OpenSSL's own check.
bool KeyFitsCertificate(const QByteArray& certificate, const QByteArray& key) {
  const std::unique_ptr<BIO, decltype(&BIO_free)> certificateBio(
      BIO_new_mem_buf(certificate.constData(), int(certificate.size())), BIO_free);
  const std::unique_ptr<BIO, decltype(&BIO_free)> keyBio(BIO_new_mem_buf(key.constData(), int(key.size())), BIO_free);
  if (!certificateBio || !keyBio)
    return false;
  const std::unique_ptr<X509, decltype(&X509_free)> x509(
      PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr), X509_free);
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
  return x509 && pkey && X509_check_private_key(x509.get(), pkey.get()) == 1;
}

bool LoadTls(const QString& certFile, const QString& keyFile, QSsl::SslProtocol protocol, QSslConfiguration* tls,
             Problem* problem) {
  if (!QSslSocket::supportsSsl()) {
    problem->what = QStringLiteral("TLS is not available (Qt found no TLS library)");
    return false;
  }
  QByteArray certificateBytes;
  if (!ReadFile(certFile, &certificateBytes)) {
    problem->what = QStringLiteral("cannot read the certificate file %1").arg(certFile);
    return false;
  }
  const QList<QSslCertificate> chain = QSslCertificate::fromData(certificateBytes, QSsl::Pem);
  if (chain.isEmpty()) {
    problem->what = QStringLiteral("%1 holds no PEM certificate").arg(certFile);
    return false;
  }
  QByteArray keyBytes;
  if (!ReadFile(keyFile, &keyBytes)) {
    problem->what = QStringLiteral("cannot read the key file %1").arg(keyFile);
    return false;
  }
  if (keyBytes.contains("ENCRYPTED")) {
    problem->what = QStringLiteral("the key in %1 is protected by a passphrase, which is not supported").arg(keyFile);
    return false;
  }
  QSslKey key;
  for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
    key = QSslKey(keyBytes, algorithm, QSsl::Pem, QSsl::PrivateKey);
    if (!key.isNull())
      break;
  }
  if (key.isNull()) {
    problem->what = QStringLiteral("%1 holds no PEM private key (RSA, EC or DSA)").arg(keyFile);
    return false;
  }
  if (!KeyFitsCertificate(certificateBytes, keyBytes)) {
    problem->what = QStringLiteral("the key in %1 does not belong to the certificate in %2").arg(keyFile, certFile);
    return false;
  }
  *tls = QSslConfiguration::defaultConfiguration();
  tls->setLocalCertificateChain(chain);
  tls->setPrivateKey(key);
  tls->setProtocol(protocol);
  tls->setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificates are asked for
  return true;
}

bool ReadTls(Document& doc, yaml_node_t* node, const QString& folder, QSslConfiguration* tls, Problem* problem) {
  if (IsNull(node))
    return true;
  QList<QPair<QString, yaml_node_t*>> pairs;
  if (!Pairs(doc, node, QStringLiteral("tls_server_config"), &pairs, problem))
    return false;
  QString certFile;
  QString keyFile;
  QSsl::SslProtocol protocol = QSsl::TlsV1_2OrLater;
  for (const auto& [name, value] : pairs) {
    if (name == QLatin1String("cert_file") || name == QLatin1String("key_file")) {
      QString file;
      if (!Text(value, name, &file, problem))
        return false;
      if (!file.isEmpty())
        file = QDir(folder).filePath(file);
      (name == QLatin1String("cert_file") ? certFile : keyFile) = file;
    } else if (name == QLatin1String("min_version")) {
      QString version;
      if (!Text(value, name, &version, problem))
        return false;
      if (version == QLatin1String("TLS12")) {
        protocol = QSsl::TlsV1_2OrLater;
      } else if (version == QLatin1String("TLS13")) {
        protocol = QSsl::TlsV1_3OrLater;
      } else {
        *problem = {Line(value), QStringLiteral("min_version must be TLS12 or TLS13")};
        return false;
      }
    } else {
      *problem = {Line(value), QStringLiteral("tls_server_config: %1 is not supported").arg(name)};
      return false;
    }
  }
  if (certFile.isEmpty() && keyFile.isEmpty())
    return true;
  if (certFile.isEmpty() || keyFile.isEmpty()) {
    *problem = {Line(node), QStringLiteral("tls_server_config needs both cert_file and key_file")};
    return false;
  }
  return LoadTls(certFile, keyFile, protocol, tls, problem);
}

bool ReadUsers(Document& doc, yaml_node_t* node, QList<QPair<QByteArray, QByteArray>>* users, Problem* problem) {
  if (IsNull(node))
    return true;
  QList<QPair<QString, yaml_node_t*>> pairs;
  if (!Pairs(doc, node, QStringLiteral("basic_auth_users"), &pairs, problem))
    return false;
  for (const auto& [name, value] : pairs) {
    QString hash;
    if (!Text(value, QStringLiteral("the password of %1").arg(name), &hash, problem))
      return false;
    if (name.isEmpty() || name.contains(QLatin1Char(':'))) {
      *problem = {Line(value), QStringLiteral("basic_auth_users: a user name must not be empty or hold \":\"")};
      return false;
    }
    if (!BasicAuth::IsBcryptHash(hash.toUtf8())) {
      *problem = {Line(value),
                  QStringLiteral("basic_auth_users: the password of %1 is not a bcrypt hash ($2b$ or $2y$)").arg(name)};
      return false;
    }
    users->append({name.toUtf8(), hash.toUtf8()});
  }
  return true;
}

bool Read(const QString& path, WebConfig* config, Problem* problem) {
  QByteArray bytes;
  if (!ReadFile(path, &bytes)) {
    problem->what = QStringLiteral("cannot read it");
    return false;
  }
  Document doc;
  yaml_parser_set_input_string(&doc.parser, reinterpret_cast<const unsigned char*>(bytes.constData()),
                               std::size_t(bytes.size()));
  if (!yaml_parser_load(&doc.parser, &doc.document)) {
    *problem = {doc.parser.problem_mark.line + 1,
                QStringLiteral("not YAML (%1)").arg(QString::fromUtf8(doc.parser.problem ? doc.parser.problem : ""))};
    return false;
  }
  doc.loaded = true;
  yaml_node_t* root = yaml_document_get_root_node(&doc.document);
  if (!root || IsNull(root))
    return true; // an empty file: plain HTTP for anyone
  QList<QPair<QString, yaml_node_t*>> pairs;
  if (!Pairs(doc, root, QStringLiteral("the file"), &pairs, problem))
    return false;
  const QString folder = QFileInfo(path).absolutePath();
  for (const auto& [name, value] : pairs) {
    if (name == QLatin1String("tls_server_config")) {
      if (!ReadTls(doc, value, folder, &config->tls, problem))
        return false;
    } else if (name == QLatin1String("basic_auth_users")) {
      if (!ReadUsers(doc, value, &config->users, problem))
        return false;
    } else {
      *problem = {Line(value), QStringLiteral("%1 is not supported").arg(name)};
      return false;
    }
  }
  return true;
}

} // namespace

bool WebConfig::Load(const QString& path, WebConfig* config, QString* error) {
  Problem problem;
  WebConfig read;
  if (!Read(path, &read, &problem)) {
    *error = problem.line > 0
                 ? QStringLiteral("--web-config %1: line %2: %3").arg(path).arg(problem.line).arg(problem.what)
                 : QStringLiteral("--web-config %1: %2").arg(path, problem.what);
    return false;
  }
  *config = read;
  return true;
}
