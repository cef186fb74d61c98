#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslConfiguration>
#include <QString>

// The access control of the metrics server, read from a file in the web configuration format of
// the Prometheus exporters (--web-config FILE):
//
//   tls_server_config:
//     cert_file: server.pem       # PEM certificate (chain), relative to the file's folder
//     key_file: server.key        # its PEM private key, not protected by a passphrase
//     min_version: TLS12          # or TLS13; TLS12 when not given
//   basic_auth_users:
//     prometheus: $2b$12$...      # a bcrypt hash of the password (htpasswd -B, mkpasswd -m bcrypt)
//
// Either part may be left out; an empty file serves plain HTTP to anyone. Keys of that format this
// server does not implement (client certificates, cipher suites, HTTP headers, ...) are refused by
// name rather than ignored.
struct WebConfig {
  QSslConfiguration tls;                      // null: plain HTTP
  QList<QPair<QByteArray, QByteArray>> users; // name and bcrypt hash; empty: no password asked

  // Reads `path`, and the certificate and key it names. False with `error` (one line naming the
  // file and what is wrong) when it cannot. Needs an application object (TLS is a plug-in).
  static bool Load(const QString& path, WebConfig* config, QString* error);
};
