// The listing of a whole mailbox for a session that keeps headers by UIDL: capabilities
// after the login, UIDL and LIST of every message, and TOP n 0 for a chosen set of messages.
#include "pop3/Nmpop3.h"
#include "pop3/Pop3Reply.h"

using namespace pop3text;

bool TNMPOP3::ReadNumberedListing(std::vector<std::string>& Words, bool (*WordFits)(std::string_view))
{
    Words.assign(static_cast<std::size_t>(std::max(MessageCount, 0)), std::string());
    bool wellFormed = true;
    ReadListing([&](std::string_view line, bool last) {
        if (last || !wellFormed)
            return;
        const std::string_view text = StripLineEnd(line);
        const std::string_view number = NthWordView(text, ' ', 1);
        const std::string_view word = NthWordView(text, ' ', 2);
        const int n = PlainNumber(number);
        wellFormed = n >= 1 && n <= MessageCount && WordFits(word) && number.size() + 1 + word.size() == text.size() &&
                     Words[static_cast<std::size_t>(n - 1)].empty();
        if (wellFormed)
            Words[static_cast<std::size_t>(n - 1)].assign(word);
    });
    return wellFormed;
}

void TNMPOP3::GetListing(bool AskCapabilities, const std::function<void()>& WhileWaiting)
{
    if (Refused())
        return;
    BusyScope busy(FBusy);
    CertifyConnect();
    Listing = TMailboxListing();
    // Every command in one write, when allowed: the later ones cost no round trip. Without
    // that, CAPA would cost one before the rows: it waits for the first TOP, which uses it.
    const bool together = HasCapability("PIPELINING");
    const bool asking = AskCapabilities && together;
    FCapabilitiesDue = AskCapabilities && !together;
    Send(std::string(asking ? "CAPA\r\n" : "") + (together ? "UIDL\r\nLIST" : "UIDL"));
    if (WhileWaiting)
        WhileWaiting();
    if (asking)
        AskCapabilitiesAgain(true);
    std::vector<std::string> uidls, sizes;
    const std::string uidlStatus = ReadStatus();
    if (StripLineEnd(FirstWord(uidlStatus)) == "+OK")
        Listing.Uidls = ReadNumberedListing(uidls, IsUidlWord);
    FReplyBytes = 0;
    const std::string status = together ? ReadStatus() : Command("LIST");
    if (StripLineEnd(FirstWord(status)) == "+OK")
        Listing.Sizes = ReadNumberedListing(sizes, IsSizeWord);
    // GetSummary takes its sizes from here, and never asks for a listing that failed again.
    FSizesAsked = true;
    FSizes.clear();
    if (!Listing.Sizes)
        return;
    KeepListedSizes(sizes);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i].empty())
            continue;
        TListedMessage& m = Listing.Messages.emplace_back();
        m.Number = static_cast<int>(i + 1);
        m.Size = FSizes[i];
        if (Listing.Uidls)
            m.Uidl = std::move(uidls[i]);
    }
}

void TNMPOP3::AskCapabilitiesAgain(bool Sent)
{
    FCapabilitiesDue = false;
    std::vector<std::string> before = Capabilities;
    if (!TakeCapabilities(Sent ? ReadStatus() : Command("CAPA")))
        Capabilities = std::move(before);
    FReplyBytes = 0;
}

// ---- TOP for a set of messages ----

int TNMPOP3::ReadTopReply(bool& Refused)
{
    Refused = false;
    FReplyText.clear();
    FLineLengths.clear();
    return ReadReply(
        [this, &Refused](std::string_view line) {
            FLineLengths.push_back(line.size());
            if (FLineLengths.size() == 1) {
                Refused = !ContainsOk(line);
                return Refused;   // a refusal has no lines after it
            }
            return IsEndLine(line);
        },
        true, &FReplyText);
}

void TNMPOP3::TakeSummaryLines()
{
    Summary.Header.Clear();
    Summary.Subject.clear();
    Summary.From.clear();
    Summary.MessageId.clear();
    const char* next = FReplyText.data() + FLineLengths[0];
    for (std::size_t i = 1; i < FLineLengths.size(); ++i) {
        const std::string_view text = StripLineEnd(std::string_view(next, FLineLengths[i]));
        next += FLineLengths[i];
        // The three fields differ in their first character.
        if (!text.empty()) {
            if (text[0] == 'S' && StartsWith(text, "Subject:"))
                Summary.Subject.assign(From(text, 9));
            else if (text[0] == 'F' && StartsWith(text, "From:"))
                Summary.From.assign(From(text, 6));
            else if (text[0] == 'M' && StartsWith(text, "Message-ID:"))
                Summary.MessageId.assign(From(text, 13, 256));
        }
        Summary.Header.Add(std::string(text));
    }
}

void TNMPOP3::DropTopReply()
{
    bool first = true;
    FReplyBytes = 0;
    ReadReply([&first](std::string_view line) {
        if (first) {
            first = false;
            return !ContainsOk(line);
        }
        return IsEndLine(line);
    });
}

void TNMPOP3::SendTopsAhead(const std::vector<int>& Numbers, std::size_t First)
{
    // As SendAhead: topped up once a quarter of the window is read.
    const std::size_t next = First + FTopsInFlight.size();
    const auto window = static_cast<std::size_t>(Window());
    if (next >= Numbers.size() || (!FTopsInFlight.empty() && FTopsInFlight.size() > window - window / 4))
        return;
    const std::size_t last = std::min(Numbers.size(), First + std::max<std::size_t>(window, 1));
    std::string batch;
    for (std::size_t i = next; i < last; ++i)
        batch += CommandLine("TOP ", Numbers[i], " 0\r\n");
    SendBatch(batch);
    for (std::size_t i = next; i < last; ++i)
        FTopsInFlight.push_back(Numbers[i]);
}

void TNMPOP3::GetSummaries(const std::vector<int>& Numbers)
{
    if (Refused())
        return;
    BusyScope busy(FBusy);
    AtScopeEnd release([this] { ReleaseLargeBuffers(); });
    FStopSummaries = false;
    StartRetrieval();
    if (FCapabilitiesDue)
        AskCapabilitiesAgain();
    const bool ahead = HasCapability("PIPELINING") && Depth > 1;
    for (std::size_t i = 0; i < Numbers.size() && !FStopSummaries; ++i) {
        const int msg = Numbers[i];
        if (ahead) {
            // A handler that ran a command in between had the replies in flight settled.
            if (!FInFlight.empty() || (!FTopsInFlight.empty() && FTopsInFlight.front() != msg))
                SettleInFlight();
            SendTopsAhead(Numbers, i);
            FTopsInFlight.pop_front();
            FReplyBytes = 0;
        } else {
            Send(CommandLine("TOP ", msg, " 0"));
        }
        bool refused = false;
        const int unread = ReadTopReply(refused);
        ConsumeInput(unread);
        NoteReply(std::string_view(FReplyText.data(), FLineLengths[0]));
        if (refused)
            continue;   // that message gets no summary; the others do
        TakeSummaryLines();
        Summary.Bytes = KeptSize(msg);
        SummaryNumber = msg;
        StatusMessage(1, "Summary Retrieved");
        if (OnRetrieveEnd)
            OnRetrieveEnd(this);
    }
    SettleInFlight();
}
