#pragma once

// Certificates made at run time, for tests that need a validity relative to now (a certificate that
// expires in five days whenever the test runs). The committed fixtures in tls/ cannot give that:
// their authority's key was thrown away on purpose. Here a fresh authority is made for each call
// and lives only in the test's temporary folder.
//
//   const TestCertificates made = TestCertificates::Make(dir.path(), 5 * 86400);
//   HttpClient::SetTrustStoreFile(made.authorityFile);
//   LoopbackServer secure(made);                   // https://127.0.0.1:<port>
//
// The server certificate is for 127.0.0.1 and localhost; with an intermediate authority the server
// sends it along with its own certificate.

#include <QDateTime>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

struct TestCertificates {
  QList<QSslCertificate> chain; // what the server sends: its certificate, then the intermediate
  QSslKey key;                  // the server certificate's key
  QString authorityFile;        // the root authority's certificate (PEM) in the folder
  QDateTime serverNotAfter;
  QDateTime intermediateNotAfter; // invalid without an intermediate

  // A root authority valid for ten years; a server certificate that ends `serverSeconds` from now;
  // with `intermediateSeconds` > 0, an intermediate authority between them that ends that many
  // seconds from now. Ends the test program (qFatal) when OpenSSL fails.
  static TestCertificates Make(const QString& folder, qint64 serverSeconds, qint64 intermediateSeconds = 0);
};
