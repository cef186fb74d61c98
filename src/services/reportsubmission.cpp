#include "services/reportsubmission.h"

#include "core/module1.h"
#include "core/statuspanels.h"
#include "platform/addresstext.h"
#include "platform/clock.h"
#include "platform/httpclient.h"
#include "platform/messageboxes.h"
#include "platform/numbers.h"
#include "platform/textfile.h"
#include "results/resultsmodel.h"
#include "results/statistics.h"
#include "services/servicequery.h"
#include "services/whois.h"
#include "settings/settingsstore.h"

namespace ReportSubmission {

QString WhoisUrl(const QString& whoisUrl, const QString& lookupName) {
  return ServiceQuery::QueryAddress(
      whoisUrl, QStringLiteral("cgi/whois"),
      {{QStringLiteral("whois_nic"), lookupName}, {QStringLiteral("type"), QStringLiteral("domain")}});
}

QString UploadUrl(const QString& vendorUrl, const QString& record) {
  return ServiceQuery::QueryAddress(vendorUrl, QStringLiteral("cgi-bin/tarvik/ref.cgi"),
                                    {{QStringLiteral("p"), record}});
}

QString ReportRecord(const ReportFields& f) {
  const QStringList fields = {
      f.accountId,
      f.host,
      f.nameServer1,
      f.nameServer2,
      f.url,
      f.firstTime,
      f.firstPing,
      f.lastTime,
      f.lastPing,
      f.best,
      f.worst,
      f.average,
      QString::number(f.blue),
      QString::number(f.red),
      QString::number(f.rowsPerUrl),
      f.ref1,
      f.ref2,
      f.bestTime,
      f.worstTime,
      f.date,
      f.time,
      f.fc,
  };
  return fields.join(QLatin1Char('|'));
}

namespace {

// A row's Event Time and Ping.
struct RowTexts {
  QString eventTime;
  QString ping;
};

class Submission {
public:
  explicit Submission(const Context& context) : c(context) {}

  Outcome Run() {
    Busy(true);
    c.bar2.SetText(1, QStringLiteral("Building Report"));
    if (SettingsStore::GetAccountId().isEmpty())
      return End(Outcome::NoAccount);

    const int n = int(c.urls.size());
    Outcome outcome = Outcome::AllDone;
    for (int siteId = 1; siteId <= n; ++siteId) {
      const std::optional<Outcome> early = SendSite(siteId);
      if (early == Outcome::DailyLimit) {
        outcome = Outcome::DailyLimit;
        break;
      }
      if (early)
        return End(*early);
    }

    Busy(false);
    c.bar2.SetText(1, QStringLiteral("All Done"));
    if (c.finished)
      c.finished();
    c.state.ReportSubmitted = true;
    return outcome;
  }

private:
  // The table's rows of a site as its report gives them.
  struct SiteRows {
    qint32 blue = 0; // rows at the first and at the second warning level
    qint32 red = 0;
    qint32 perUrl = 0; // the whole table's rows per URL
  };

  // The hosting provider the user confirmed, and the name servers it was found by.
  struct Host {
    QString name;
    Whois::NameServerList servers;
  };

  // Reports the site siteId. Nothing when it was accepted; otherwise how the submission goes on.
  std::optional<Outcome> SendSite(int siteId) {
    // The address as shown: a password in it reaches neither the WHOIS service, nor the question,
    // nor the report.
    const QString url = AddressText::Shown(c.urls.at(siteId - 1)).toLower();
    const SiteRows rows = ReadRows(siteId);
    Host host;
    if (const std::optional<Outcome> early = ConfirmHost(url, host))
      return early;
    return Upload(Fields(siteId, url, rows, host), host.name);
  }

  // Reads the site's rows: its first and last row into firstRow and lastRow (a site without rows
  // keeps the previous site's texts) and its counts.
  SiteRows ReadRows(int siteId) {
    const ResultsModel& results = c.results;
    const int count = results.Count();
    SiteRows rows;
    rows.perUrl = Numbers::ToInt32(double(count) / double(c.urls.size())).value_or(0);
    const auto texts = [&](int pos) {
      return RowTexts{results.TextAt(pos, ResultsModel::EventTime), results.TextAt(pos, ResultsModel::Ping)};
    };
    bool first = true;
    for (int pos = 0; pos < count; ++pos) {
      if (!OfSite(pos, siteId))
        continue;
      if (first)
        firstRow = texts(pos);
      first = false;
      lastRow = texts(pos);
      const int colour = results.Colour(results.RowAt(pos));
      if (colour == ResultsModel::Blue)
        ++rows.blue;
      else if (colour == ResultsModel::Red)
        ++rows.red;
    }
    return rows;
  }

  // Finds the site's hosting provider in the WHOIS service and has the user confirm it: Yes takes
  // it, No looks up the provider's own domain, Cancel ends the submission. Each site's search starts
  // afresh: a first name server without a dot leaves no host to confirm. Nothing when the search
  // ended with a host (or none to confirm); otherwise how the submission goes on.
  std::optional<Outcome> ConfirmHost(const QString& url, Host& host) {
    QString lookup = url;
    for (;;) {
      const std::optional<QString> name = Whois::LookupName(lookup);
      if (!name) {
        MessageBoxes::MsgBox(NotFoundText);
        return Outcome::NotFound;
      }
      lookup = *name;
      c.bar2.SetText(1, QStringLiteral("Retrieving Whois. Please wait"));
      const FetchResult answer = Fetch(WhoisUrl(c.state.WhoisURL, lookup));
      if (!answer.ok)
        return Outcome::Failed;
      // The WHOIS page is read as the web page it is: UTF-8, or Latin-1 when it is not valid UTF-8.
      host.servers = Whois::NameServers(TextFile::Decode(answer.body.toLatin1()));
      if (host.servers.status == Whois::NameServerList::Status::ShortLine)
        return Outcome::Failed;
      if (host.servers.status != Whois::NameServerList::Status::Found) {
        MessageBoxes::MsgBox(NotFoundText);
        return Outcome::NotFound;
      }
      const std::optional<QString> provider = Whois::HostOf(host.servers.first);
      if (!provider)
        return std::nullopt; // nothing to confirm: the host stays as this site's search left it
      host.name = *provider;
      c.bar2.SetText(1, QStringLiteral("Host: ") + host.name);
      const MessageBoxes::Answer confirmed = MessageBoxes::MsgBox(
          url + QStringLiteral(" report is for ") + host.name + QStringLiteral(" Is this correct?"),
          MessageBoxes::YesNoCancel, MessageBoxes::Question, FoundHostTitle);
      Busy(true);
      if (confirmed == MessageBoxes::Yes)
        return std::nullopt;
      if (confirmed == MessageBoxes::Cancel)
        return Outcome::Cancelled;
      lookup = host.name;
    }
  }

  ReportFields Fields(int siteId, const QString& url, const SiteRows& rows, const Host& host) const {
    const SiteFigures figures = Statistics::SiteStatistics(c.results, siteId);
    // The fc summary is asked for every site (it fills panel 3), but only a finished fc test sends it.
    QString fc = c.fcSummary ? c.fcSummary(siteId) : QString();
    if (c.state.FcTestState != Module1::FcTest::Finished)
      fc = QStringLiteral("0?0");
    return {
        SettingsStore::GetAccountId(),
        host.name,
        host.servers.first,
        host.servers.second,
        url,
        firstRow.eventTime,
        firstRow.ping,
        lastRow.eventTime,
        lastRow.ping,
        figures.best,
        figures.worst,
        figures.average,
        rows.blue,
        rows.red,
        rows.perUrl,
        c.ref1,
        c.ref2,
        figures.bestTime,
        figures.worstTime,
        Clock::DateText(),
        Clock::TimeText(),
        fc,
    };
  }

  // Sends one report. Nothing when the service took it; otherwise how the submission goes on.
  std::optional<Outcome> Upload(const ReportFields& fields, const QString& host) {
    c.bar2.SetText(1, QStringLiteral("Uploading Report"));
    const FetchResult upload = Fetch(UploadUrl(c.state.VendorURL, ReportRecord(fields)));
    if (!upload.ok)
      return Outcome::Failed;
    if (upload.body == QLatin1String("max")) {
      MessageBoxes::MsgBox(DailyLimitText, MessageBoxes::OkOnly, MessageBoxes::Information);
      return Outcome::DailyLimit;
    }
    if (upload.body == QLatin1String("ok")) {
      c.bar2.SetText(1, host + QStringLiteral(" Report Submited"));
      return std::nullopt;
    }
    MessageBoxes::MsgBox(SubmitErrorText);
    return Outcome::Refused;
  }

  // Whether the row at pos belongs to the site siteId (its Site ID read as a number).
  bool OfSite(int pos, int siteId) const { return c.results.FiguresAt(pos).siteValue == double(siteId); }

  FetchResult Fetch(const QString& address) {
    Light(true);
    // Events run while the request waits: the user may sort or reset the table meanwhile.
    FetchResult result = c.client.OpenUrl(address);
    Light(false);
    return result;
  }

  Outcome End(Outcome outcome) {
    Busy(false);
    return outcome;
  }

  void Busy(bool on) const {
    if (c.setBusy)
      c.setBusy(on);
  }

  void Light(bool on) const {
    if (c.setStatusLight)
      c.setStatusLight(on);
  }

  const Context& c;
  // Carried from one URL to the next until set again.
  RowTexts firstRow;
  RowTexts lastRow;
};

} // namespace

Outcome SubmitReport(const Context& context) {
  return Submission(context).Run();
}

} // namespace ReportSubmission
