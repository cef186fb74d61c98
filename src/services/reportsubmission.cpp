#include "services/reportsubmission.h"

#include "core/module1.h"
#include "core/statuspanels.h"
#include "platform/clock.h"
#include "platform/httpclient.h"
#include "platform/messageboxes.h"
#include "platform/numbers.h"
#include "results/resultsmodel.h"
#include "results/statistics.h"
#include "services/servicequery.h"
#include "services/whois.h"
#include "settings/settingsstore.h"

namespace ReportSubmission {

QString WhoisUrl(const QString& whoisUrl, const QString& lookupName) {
  return ServiceQuery::QueryAddress(whoisUrl, QStringLiteral("cgi/whois"),
                                    {{QStringLiteral("whois_nic"), lookupName},
                                     {QStringLiteral("type"), QStringLiteral("domain")}});
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
  // Reports the site siteId. Nothing when it was accepted; otherwise how the submission goes on.
  std::optional<Outcome> SendSite(int siteId) {
    const ResultsModel& results = c.results;
    const int rows = results.Count();
    const int n = int(c.urls.size());
    const qint32 perUrl = Numbers::ToInt32(double(rows) / double(n)).value_or(0);

    // First and last rows of the site; a site without rows keeps the previous site's texts.
    for (int pos = 0; pos < rows; ++pos) {
      if (OfSite(pos, siteId)) {
        firstRow = {results.TextAt(pos, ResultsModel::EventTime), results.TextAt(pos, ResultsModel::Ping)};
        break;
      }
    }
    const QString url = c.urls.at(siteId - 1).toLower();
    for (int pos = rows - 1; pos >= 0; --pos) {
      if (OfSite(pos, siteId)) {
        lastRow = {results.TextAt(pos, ResultsModel::EventTime), results.TextAt(pos, ResultsModel::Ping)};
        break;
      }
    }
    qint32 blue = 0;
    qint32 red = 0;
    for (int pos = rows - 1; pos >= 0; --pos) {
      if (!OfSite(pos, siteId))
        continue;
      const int colour = results.Colour(results.RowAt(pos));
      if (colour == ResultsModel::Blue)
        ++blue;
      else if (colour == ResultsModel::Red)
        ++red;
    }

    // Find the hosting provider and have the user confirm it; No looks up the provider's own domain.
    // Each site's search starts afresh: a first name server without a dot leaves no host.
    QString host;
    QString lookup = url;
    Whois::NameServerList servers;
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
      servers = Whois::NameServers(answer.body);
      if (servers.status == Whois::NameServerList::Status::ShortLine)
        return Outcome::Failed;
      if (servers.status != Whois::NameServerList::Status::Found) {
        MessageBoxes::MsgBox(NotFoundText);
        return Outcome::NotFound;
      }
      const std::optional<QString> provider = Whois::HostOf(servers.first);
      if (!provider)
        break;  // nothing to confirm: the host stays as this site's search left it
      host = *provider;
      c.bar2.SetText(1, QStringLiteral("Host: ") + host);
      const MessageBoxes::Answer confirmed = MessageBoxes::MsgBox(
          url + QStringLiteral(" report is for ") + host + QStringLiteral(" Is this correct?"),
          MessageBoxes::YesNoCancel, MessageBoxes::Question, FoundHostTitle);
      Busy(true);
      if (confirmed == MessageBoxes::Yes)
        break;
      if (confirmed == MessageBoxes::Cancel)
        return Outcome::Cancelled;
      lookup = host;
    }

    const SiteFigures figures = Statistics::SiteStatistics(results, siteId);
    QString fc = c.fcSummary ? c.fcSummary(siteId) : QString();
    if (c.state.FcTestState != Module1::FcTest::Finished)
      fc = QStringLiteral("0?0");

    const ReportFields fields = {
        SettingsStore::GetAccountId(),
        host,
        servers.first,
        servers.second,
        url,
        firstRow.eventTime,
        firstRow.ping,
        lastRow.eventTime,
        lastRow.ping,
        figures.best,
        figures.worst,
        figures.average,
        blue,
        red,
        perUrl,
        c.ref1,
        c.ref2,
        figures.bestTime,
        figures.worstTime,
        Clock::DateText(),
        Clock::TimeText(),
        fc,
    };

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
