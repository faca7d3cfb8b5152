// The listing a user waits for, in the window (offscreen): from the click on the connect
// button to the last row of a 2,000-message Dovecot mailbox in Lv2, in messages per
// second. The reference, in the same run, is the fastest listing the server allows: the
// all-at-once client of bench/Pop3Client.h (every TOP n 0 / LIST n sent at once after the
// login), as the window's component sends its commands ahead too. Goal: at least 0.7 times
// its rate.
//
// Every run lists the mailbox with both, one after the other (which goes first alternates);
// a run's ratio compares the two rates of that run and the figure is the median, printed
// with the range of the runs.
//
// Also measured: how long the stop button takes to end a running listing (from the click,
// made inside the listing's wait, to the end of the listing loop; goal under 100 ms after
// the message being fetched); the same listing through a proxy holding every chunk 15 ms
// each way, against the all-at-once client there and in round trips measured through the
// proxy in the same run; and the cost of adding a row to a long message list (early rows
// against late rows: no cost that grows with the list).
//
// Usage: bench_app [messages [runs]] (runs: 5 at the least)

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/mailboxview/MessageModel.h"
#include "app/mailboxview/MessageView.h"
#include "app/main/ListView.h"
#include "app/main/MainWindow.h"
#include "app/main/MessageBox.h"
#include "bench/Measure.h"
#include "bench/Pop3Client.h"
#include "bench/pop3/DelayProxy.h"
#include "mailbox/Environment.h"
#include "pop3/Nmpop3.h"
#include "tests/support/Dovecot.h"
#include "tests/support/Mailbox.h"

namespace {

using bench::Clock;
using bench::Seconds;
using bench::ThreadCpu;

struct Rate {
    double perSecond = 0;
    double cpuPerMessage = 0;   // seconds
};

// The all-at-once client from its connect to its last reply (its processor time includes
// the QUIT after).
Rate ReferenceListing(int port, const DovecotServer& server, int count)
{
    const double c = ThreadCpu();
    const double s = bench::AllAtOnceListing(port, server, count);
    return {count / s, (ThreadCpu() - c) / count};
}

// The component alone in this process (the same pump, no window work): what the window adds
// is the difference.
Rate ComponentListing(const DovecotServer& server, int count)
{
    TNMPOP3 pop(nullptr);
    bench::UseServer(pop, server);
    int rows = 0;
    pop.OnRetrieveEnd = [&rows](TObject*) { ++rows; };
    const double c = ThreadCpu();
    const auto t = Clock::now();
    pop.Connect();
    for (int i = 1; i <= pop.MessageCount; ++i)
        pop.GetSummary(i);
    const double s = Seconds(t, Clock::now());
    const double cpu = ThreadCpu() - c;
    pop.Disconnect();
    if (rows != count)
        throw std::runtime_error("component: unexpected number of summaries");
    return {count / s, cpu / count};
}

// Every listing of the window fetches every header, as the reference does: the header cache
// the last listing wrote goes first (the cached listing is bench_mailbox_cache's figure).
void ForgetHeaders() { std::filesystem::remove_all(CacheFolder()); }

// Connect button pressed: Connect, then the listing; returns when the last row is in.
Rate WindowListing(TMain& w, int count)
{
    ForgetHeaders();
    const double c = ThreadCpu();
    const auto t = Clock::now();
    w.SpeedButton1->click();
    const double s = Seconds(t, Clock::now());
    const double cpu = ThreadCpu() - c;
    if (w.Lv2->Count() != count)
        throw std::runtime_error("window: " + std::to_string(w.Lv2->Count()) + " rows instead of " + std::to_string(count));
    w.SpeedButton1->click();  // released: QUIT
    return {count / s, cpu / count};
}

struct StopFigure {
    double clickToEnd = 0;      // seconds from the click to the end of the listing loop
    int headersAfterClick = 0;  // headers that came in after the click (those in flight)
};

// Rows of the store, from `from` on, whose header has come: the listing fills them in order.
int HeadersIn(const TMessageStore& rows, int from)
{
    while (from < rows.Count() && rows.At(from).HeaderKnown)
        ++from;
    return from;
}

// Presses the stop button from a timer that fires inside the listing's wait, once `after`
// headers are in. (Every row is in the store from UIDL and LIST on, without its header.)
StopFigure StopLatency(TMain& w, int after)
{
    StopFigure f;
    Clock::time_point clicked{};  // stays the epoch when the listing ends first
    int headers = 0;
    QTimer poll;
    poll.setInterval(0);
    const TMessageStore& rows = w.Session.Store();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        headers = HeadersIn(rows, headers);
        if (headers < after)
            return;
        poll.stop();
        clicked = Clock::now();
        w.BitBtn2->click();
    });
    w.Session.Store().Clear();  // the rows of the last listing stay until the next one starts
    ForgetHeaders();
    poll.start();
    w.SpeedButton1->click();  // connects and lists until the stop
    const auto ended = Clock::now();
    if (clicked == Clock::time_point())
        throw std::runtime_error("stop: the listing ended before the stop button was pressed");
    f.clickToEnd = Seconds(clicked, ended);
    f.headersAfterClick = HeadersIn(rows, headers) - headers;
    w.SpeedButton1->click();
    return f;
}

// Microseconds per row added to the list (a record appended to the store and shown at once)
// for the first and the last `block` rows of `total`.
std::pair<double, double> RowCost(TMain& w, int total, int block)
{
    w.Session.Store().Clear();
    const std::string subject = "\xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b \xe7\xac\xac" "1\xe5\x8f\xb7" /* utf-8: お知らせ 第1号 */;
    const std::string from = "\xe5\xb1\xb1\xe7\x94\xb0\xe5\xa4\xaa\xe9\x83\x8e <taro@example.jp>" /* utf-8: 山田太郎 <taro@example.jp> */;
    double first = 0, last = 0;
    for (int i = 0; i < total; ++i) {
        const auto t = Clock::now();
        TMessageRecord record;
        record.Number = i + 1;
        record.Size = 2048 + i;
        record.Subject = subject;
        record.From = from;
        w.Session.Store().Append(std::move(record));
        w.Model->Flush();
        const double s = Seconds(t, Clock::now());
        if (i < block)
            first += s;
        if (i >= total - block)
            last += s;
        if (i % 64 == 0)
            QApplication::processEvents();  // let the view repaint as during a listing
    }
    w.Session.Store().Clear();
    return {first / block * 1e6, last / block * 1e6};
}

// An account row for the Dovecot fixture at `port` (the server's own or a proxy's).
int AddAccount(TMain& w, const char* name, const DovecotServer& server, int port)
{
    const int row = w.Lv1->AddItem(name);
    for (const std::string& f :
         {server.User(), server.Password(), std::string("127.0.0.1"), std::string("30"), std::to_string(port)})
        w.Lv1->AddSubItem(row, f);
    return row;
}

void ListingFigures(TMain& w, const DovecotServer& server, int count, int runs)
{
    std::vector<double> ratio, reference, window, referenceCpu, windowCpu, component, componentCpu;
    for (int run = 0; run < runs; ++run) {
        Rate r, c;
        if (run % 2 == 0) {
            r = ReferenceListing(server.Port(), server, count);
            c = WindowListing(w, count);
        } else {
            c = WindowListing(w, count);
            r = ReferenceListing(server.Port(), server, count);
        }
        const Rate alone = ComponentListing(server, count);
        component.push_back(alone.perSecond);
        componentCpu.push_back(alone.cpuPerMessage);
        reference.push_back(r.perSecond);
        window.push_back(c.perSecond);
        ratio.push_back(c.perSecond / r.perSecond);
        referenceCpu.push_back(r.cpuPerMessage);
        windowCpu.push_back(c.cpuPerMessage);
    }
    std::printf("Listing of %d messages into the window, median (range) of %d runs: Purgel %s msg/s; "
                "all-at-once client %s msg/s; ratio %s (goal >= 0.70)\n",
                count, runs, bench::SpreadText(window, 1, 0).c_str(), bench::SpreadText(reference, 1, 0).c_str(),
                bench::SpreadText(ratio).c_str());
    std::printf("Processor time per message on the window's thread: Purgel %s us; all-at-once client %s us; "
                "the component without the window %s us (%s msg/s)\n",
                bench::SpreadText(windowCpu, 1e6, 1).c_str(), bench::SpreadText(referenceCpu, 1e6, 1).c_str(),
                bench::SpreadText(componentCpu, 1e6, 1).c_str(), bench::SpreadText(component, 1, 0).c_str());
}

void StopFigures(TMain& w, int count, int runs)
{
    std::vector<double> stop;
    int worstHeaders = 0;
    for (int run = 0; run < runs; ++run) {
        const StopFigure f = StopLatency(w, count / 4 + run * count / (4 * runs));
        stop.push_back(f.clickToEnd);
        worstHeaders = std::max(worstHeaders, f.headersAfterClick);
    }
    std::printf("Stop button: from the click to the end of the listing, median (range) of %d: %s ms; "
                "at most %d header(s) after the click (goal: under 100 ms after the current message)\n",
                runs, bench::SpreadText(stop, 1e3).c_str(), worstHeaders);
}

// The same listing over a 30 ms round trip, against the all-at-once client there; the
// window's time beyond it in round trips of that proxy, measured in this run.
void LinkFigures(TMain& w, const DovecotServer& server, int count, int runs)
{
    bench::DelayProxy link(static_cast<std::uint16_t>(server.Port()), std::chrono::milliseconds(15));
    const int home = w.Lv1->Selected();
    w.Lv1->selectRow(AddAccount(w, "link", server, link.Port()));
    const double trip = bench::RoundTrip(link.Port(), server);
    std::vector<double> limit, window, ratio, beyond;
    for (int run = 0; run < runs; ++run) {
        double l = 0, s = 0;
        if (run % 2 == 0) {
            l = bench::AllAtOnceListing(link.Port(), server, count);
            s = count / WindowListing(w, count).perSecond;
        } else {
            s = count / WindowListing(w, count).perSecond;
            l = bench::AllAtOnceListing(link.Port(), server, count);
        }
        limit.push_back(l);
        window.push_back(s);
        ratio.push_back(s / l);
        beyond.push_back((s - l) / trip);
    }
    std::printf("Listing of %d messages into the window over a %.1f ms round trip (a NOOP through the proxy), "
                "median (range) of %d runs: %s s; all-at-once client %s s; ratio %s (goal <= 2); "
                "%s round trips beyond the client\n",
                count, trip * 1e3, runs, bench::SpreadText(window).c_str(), bench::SpreadText(limit).c_str(),
                bench::SpreadText(ratio).c_str(), bench::SpreadText(beyond, 1, 1).c_str());
    w.Lv1->selectRow(home);
}

void RowFigures(TMain& w, int count, int runs)
{
    const int rows = std::max(20000, count);
    std::vector<double> early, late;
    for (int run = 0; run < runs; ++run) {
        const auto [e, l] = RowCost(w, rows, 1000);
        early.push_back(e);
        late.push_back(l);
    }
    std::printf("Adding a row to the message list, median (range) of %d: %s us for rows 1-1000, %s us for rows %d-%d\n",
                runs, bench::SpreadText(early, 1, 1).c_str(), bench::SpreadText(late, 1, 1).c_str(), rows - 999, rows);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Purgel");
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int runs = std::max(5, argc > 2 ? std::atoi(argv[2]) : 7);

    try {
        QTemporaryDir folder;  // Account.lst and the settings file of the window go here
        SetAppFolder(folder.path().toStdString());
        // A box would mean the listing failed somewhere: collect them and give up below.
        std::vector<std::string> boxes;
        SetMessageBoxHook([&boxes](const TMessageBoxRequest& r) -> int {
            boxes.push_back(r.Text);
            return mrOK;
        });
        DovecotServer server;
        server.Start();
        server.AddMessages(mailbox::BulkMailbox(count));
        bench::AllAtOnceListing(server.Port(), server, count);  // Dovecot builds its index in the first session

        {
        TMain w;
        w.show();
        w.Lv1->selectRow(AddAccount(w, "bench", server, server.Port()));
        WindowListing(w, count);  // warm-up
        if (!boxes.empty())
            throw std::runtime_error("message box: " + boxes.front());
        ListingFigures(w, server, count, runs);
        StopFigures(w, count, runs);
        LinkFigures(w, server, count, runs);
        RowFigures(w, count, runs);
        }  // the window saves its files into the folder before it goes
        if (!boxes.empty())
            throw std::runtime_error("message box: " + boxes.front());
        SetMessageBoxHook(nullptr);
        SetAppFolder("");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_app: %s\n", e.what());
        return 1;
    }
    return 0;
}
