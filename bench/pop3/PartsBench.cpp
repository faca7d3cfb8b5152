#include "bench/pop3/PartsBench.h"

#include "bench/Measure.h"
#include "pop3/Nmpop3.h"
#include "tests/support/Files.h"
#include "tests/support/Mailbox.h"
#include "tests/support/ScriptServer.h"

#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::Median;
using bench::Seconds;

constexpr int PartCount = 10000;

// The RETR reply for a raw message without lines that begin with a dot.
std::string Reply(const std::string& raw)
{
    return "+OK\r\n" + raw + ".\r\n";
}

struct Timing {
    double Wall = 0;
    double LongestGap = 0;   // seconds between two ticks of a 5 ms timer
};

// One GetMailMessage(1) of `raw` into a fresh folder, with a 5 ms timer ticking beside it.
Timing Retrieve(const std::string& raw, int parts)
{
    const testsupport::TempFolder folder("purgel-bench-parts");
    testsupport::ScriptServer server(testsupport::Script()
                                         .Pop3Login("+OK ready", "bob", "pw", "+OK 1 100")
                                         .Expect("RETR 1")
                                         .Send(Reply(raw))
                                         .ExpectTimeout(testsupport::Millis(600000))
                                         .Expect("QUIT")
                                         .SendLine("+OK bye")
                                         .WaitForClose(testsupport::Millis(600000)));
    TNMPOP3 pop(nullptr);
    pop.Host = testsupport::LoopbackHost;
    pop.Port = server.Port();
    pop.UserID = "bob";
    pop.Password = "pw";
    pop.TimeOut = 600000;
    pop.SetAttachFilePath(folder.Path().string());
    pop.Connect();
    Timing t;
    Clock::time_point tick = Clock::now();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        t.LongestGap = std::max(t.LongestGap, Seconds(tick, now));
        tick = now;
    });
    timer.start(5);
    const Clock::time_point start = Clock::now();
    tick = start;
    pop.GetMailMessage(1);
    const Clock::time_point end = Clock::now();
    t.Wall = Seconds(start, end);
    t.LongestGap = std::max(t.LongestGap, Seconds(tick, end));
    timer.stop();
    if (parts > 0 && pop.MailMessage.Attachments.Count() == 0)
        throw std::runtime_error("many parts: no attachment written");
    pop.Disconnect();
    return t;
}

// The same lines as one text/plain message: what the retrieval costs without its parts.
std::string SinglePartOf(const std::string& raw)
{
    const std::size_t body = raw.find("\r\n\r\n") + 4;
    return "Subject: many parts\r\nContent-Type: text/plain\r\n\r\n" + raw.substr(body);
}

} // namespace

void PrintManyPartsFigure(int runs)
{
    const std::string raw = mailbox::ManyPartsMail(PartCount);
    const std::string single = SinglePartOf(raw);
    std::vector<double> wall, ratio, gap;
    for (int run = 0; run < runs; ++run) {
        const Timing parts = Retrieve(raw, PartCount);
        const Timing reference = Retrieve(single, 0);
        wall.push_back(parts.Wall);
        ratio.push_back(parts.Wall / reference.Wall);
        gap.push_back(parts.LongestGap);
    }
    std::printf("Message of %d parts (median of %d runs): %.2f s (goal < 2 s), %.1f times its lines as one part; "
                "longest span without handling messages %.0f ms\n",
                PartCount, runs, Median(wall), Median(ratio), Median(gap) * 1e3);
}
