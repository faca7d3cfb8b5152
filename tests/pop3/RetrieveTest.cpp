// Whole-message retrieval against scripted servers, and the part parser on prepared bodies:
// header fields, body choices, parts, attachment files and their names.

#include "Pop3TestUtil.h"

#include "pop3/PartFolder.h"
#include "runtime/Exception.h"
#include "runtime/SysUtils.h"
#include "tests/support/Mailbox.h"

#include <algorithm>
#include <functional>
#include <thread>

using namespace pop3test;

namespace {

// The RETR reply for a raw message: "+OK", the lines with a leading dot doubled, ".".
std::string RetrReply(std::string raw)
{
    if (raw.size() < 2 || raw.compare(raw.size() - 2, 2, "\r\n") != 0)
        raw += "\r\n";
    std::string out = "+OK message follows\r\n";
    std::size_t at = 0;
    while (at < raw.size()) {
        const std::size_t end = raw.find("\r\n", at) + 2;
        if (raw[at] == '.')
            out += '.';
        out.append(raw, at, end - at);
        at = end;
    }
    return out + ".\r\n";
}

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::string Announce(const std::string& name)
{
    return "\r\nFile \"" + name + "\" extracted";
}

std::string TempName(int n)
{
    return "Temp" + std::to_string(n) + ".mme";
}

class RetrieveTest : public Pop3Test {
protected:
    // Connects to a server that answers RETR 1 with the message, goes on with `more` (or
    // waits for the close), and retrieves message 1.
    void Retrieve(const std::string& raw, const std::function<void(Script&)>& more = {})
    {
        Script script = Login();
        script.Expect("RETR 1").Send(RetrReply(raw));
        if (more)
            more(script);
        else
            script.WaitForClose();
        Server = std::make_unique<ScriptServer>(script);
        ConnectTo(*Server);
        Pop->GetMailMessage(1);
    }
    std::unique_ptr<ScriptServer> Server;
};

const std::string SinglePart = "From: Taro <taro@example.jp>\r\n"
                               "Subject: Hello there\r\n"
                               "Message-ID: <m1@example.jp>\r\n"
                               "Content-Type: text/plain; charset=us-ascii\r\n"
                               "\r\n"
                               "first line\r\n"
                               ".a line that began with a dot\r\n"
                               "last line\r\n";

TEST_F(RetrieveTest, SinglePartWithoutParseGivesTheBodyAsItCame)
{
    Retrieve(SinglePart);
    const TMailMessage& m = Pop->MailMessage;
    EXPECT_EQ(m.Subject, " Hello there");
    EXPECT_EQ(m.From, "Taro <taro@example.jp>");
    EXPECT_EQ(m.MessageId, "<m1@example.jp>");
    EXPECT_EQ(m.ContentType, "text/plain; charset=us-ascii");
    EXPECT_EQ(Lines(m.Header), (std::vector<std::string>{"From: Taro <taro@example.jp>", "Subject: Hello there",
                                                         "Message-ID: <m1@example.jp>",
                                                         "Content-Type: text/plain; charset=us-ascii", ""}));
    const std::vector<std::string> body = {"first line", ".a line that began with a dot", "last line"};
    EXPECT_EQ(Lines(m.RawBody), body) << "the doubled dot of the wire is undone";
    EXPECT_EQ(Lines(m.Body), body);
    EXPECT_EQ(m.Attachments.Count(), 0);
    EXPECT_TRUE(Files().empty());
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "end"}));
    EXPECT_FALSE(Pop->Busy());
}

TEST_F(RetrieveTest, SinglePartWithParseKeepsEveryLineAndCountsThem)
{
    Pop->Parse = true;
    int packets = 0;
    Pop->OnPacketRecvd = [&](TObject*) { ++packets; };
    Retrieve(SinglePart);
    EXPECT_EQ(Lines(Pop->MailMessage.Body), Lines(Pop->MailMessage.RawBody));
    EXPECT_EQ(packets, 3);
    EXPECT_EQ(Pop->BytesRecvd(), 3);
}

TEST_F(RetrieveTest, SinglePartBase64WithParseIsDecodedIntoTheBody)
{
    Pop->Parse = true;
    const int temp = Pop3TempFileCounter + 1;
    Retrieve("Subject: encoded\r\nContent-Transfer-Encoding: base64\r\n\r\n" + mailbox::Base64Lines("hello\r\nworld\r\n"));
    EXPECT_EQ(Lines(Pop->MailMessage.Body), (std::vector<std::string>{"hello", "world"}));
    EXPECT_EQ(Lines(Pop->MailMessage.Attachments), (std::vector<std::string>{"text.tmp"}));
    EXPECT_EQ(Files(), (std::vector<std::string>{TempName(temp), "text.tmp"}));
}

TEST_F(RetrieveTest, MultipartGivesTheTextPartAndDecodedAttachmentFiles)
{
    const mailbox::MultipartSample sample = mailbox::MultipartMail(5000, 3000, 7);
    const int temp = Pop3TempFileCounter + 1;
    Retrieve(sample.Raw);
    const TMailMessage& m = Pop->MailMessage;
    EXPECT_EQ(m.Boundary, sample.Boundary) << "taken from the continuation line";
    std::vector<std::string> body = SplitCrLf(sample.Text);
    body.push_back("");
    body.push_back(Announce("report.bin"));
    body.push_back(Announce("archive.dat"));
    EXPECT_EQ(Lines(m.Body), body);
    EXPECT_EQ(Lines(m.Attachments), (std::vector<std::string>{"report.bin", "archive.dat"}));
    EXPECT_EQ(ReadFile(Inbox("report.bin")), sample.Base64Part.Bytes);
    EXPECT_EQ(ReadFile(Inbox("archive.dat")), sample.UuencodedPart.Bytes) << "\"x-uuencode\" in lower case decodes too";
    EXPECT_EQ(Files(), (std::vector<std::string>{TempName(temp), TempName(temp + 1), "archive.dat", "report.bin"}));
    for (const std::string& f : Files())
        EXPECT_EQ(fs::status(Inbox(f)).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
            << f << " holds mail";
    EXPECT_EQ(m.ContentType, "application/octet-stream;") << "the last part's";
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "decode report.bin", "decode archive.dat", "end"}));
}

TEST_F(RetrieveTest, AUuencodedLineBeginningWithADotSurvivesTheWire)
{
    // 14 bytes make a last uuencode line whose length character is ".".
    mailbox::MultipartSample sample = mailbox::MultipartMail(100, 45 + 14, 3);
    Retrieve(sample.Raw);
    EXPECT_EQ(ReadFile(Inbox("archive.dat")), sample.UuencodedPart.Bytes);
}

TEST_F(RetrieveTest, HostileAttachmentNamesStayInsideTheFolder)
{
    const fs::path inbox = Folder / "one" / "two" / "inbox";
    fs::create_directories(inbox);
    Pop->SetAttachFilePath(inbox.string());
    struct Case {
        std::string Name, File;
    };
    const std::vector<Case> cases = {{"../../x", "x"},          {"/etc/passwd", "passwd"},
                                     {"..\\..\\evil.exe", "evil.exe"}, {"a/../../b.txt", "b.txt"},
                                     {"..", "text.tmp"},        {"\x01" "ctl.txt", "ctl.txt"}};
    Script script = Login();
    for (std::size_t i = 0; i < cases.size(); ++i)
        script.Expect("RETR " + std::to_string(i + 1))
            .Send(RetrReply(mailbox::MailWithAttachmentNamed(cases[i].Name, "content " + cases[i].File)));
    ScriptServer server(script.WaitForClose());
    ConnectTo(server);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        Pop->GetMailMessage(static_cast<int>(i + 1));
        EXPECT_EQ(Lines(Pop->MailMessage.Attachments), std::vector<std::string>{cases[i].File}) << cases[i].Name;
        EXPECT_EQ(ReadFile(inbox / cases[i].File), "content " + cases[i].File) << cases[i].Name;
    }
    for (const auto& e : fs::recursive_directory_iterator(Folder)) {
        if (e.is_regular_file()) {
            EXPECT_EQ(e.path().parent_path(), inbox) << e.path();
        }
    }
}

TEST_F(RetrieveTest, ALinkOrAFilePutAtANameAfterItsLookIsNeverOpened)
{
    // As another process could, between the look at the free name and the file's creation.
    const fs::path victim = Folder / "victim";
    Pop->OnDecodeStart = [&](std::string& name) {
        if (name == "report.bin")
            fs::create_symlink(victim, Inbox(name));   // dangling
        else
            std::ofstream(Inbox(name)) << "mine";
    };
    Retrieve(mailbox::MultipartMail().Raw);
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_EQ(ReadFile(Inbox("archive.dat")), "mine");
    EXPECT_EQ(Lines(Pop->MailMessage.Body).back(), "\r\nFile \"archive.dat\" could not be written");
    EXPECT_EQ(Pop->MailMessage.Files.size(), 2u) << "the part files stay, listed";
}

TEST_F(RetrieveTest, WithoutAFolderThePartsGoToAPrivateOneAndAreListed)
{
    ::setenv("XDG_RUNTIME_DIR", Folder.c_str(), 1);
    Pop->SetAttachFilePath("");
    Retrieve(mailbox::MultipartMail().Raw);
    const TMailMessage& m = Pop->MailMessage;
    EXPECT_EQ(fs::path(m.PartFolder).parent_path(), Folder / "purgel");
    EXPECT_EQ(fs::status(m.PartFolder).permissions(), fs::perms::owner_all);
    ASSERT_EQ(m.Files.size(), 4u) << "two part files and the two attachments";
    EXPECT_EQ(m.Files[3], m.PartFolder + "/archive.dat");
    // A folder of a run that has ended (no pid is that high) goes at the next start.
    const fs::path stale = Folder / "purgel" / "parts-4194305-x";
    fs::create_directory(stale);
    fs::last_write_time(stale, fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(partfolder::RemoveStalePartFolders(), 1);
    EXPECT_FALSE(fs::exists(stale));
    partfolder::RemovePartFiles(m.Files, m.PartFolder);
    EXPECT_FALSE(fs::exists(m.PartFolder));
    ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(RetrieveTest, ANameFromOnDecodeStartIsUsedAsItStands)
{
    Pop->OnDecodeStart = [](std::string& name) { name = "chosen-" + name; };
    Retrieve(mailbox::MailWithAttachmentNamed("data.bin", "abc"));
    EXPECT_EQ(Lines(Pop->MailMessage.Attachments), std::vector<std::string>{"chosen-data.bin"});
    EXPECT_EQ(ReadFile(Inbox("chosen-data.bin")), "abc");
}

TEST_F(RetrieveTest, AnAttachmentThatCannotBeWrittenIsNotedAndTheMessageStillShows)
{
    Pop->OnDecodeStart = [this](std::string& name) {
        Events.push_back("decode " + name);
        name.clear();   // the folder itself: no file can be made under that name
    };
    const std::string raw = mailbox::MailWithAttachmentNamed("data.bin", "abc");
    Retrieve(raw);
    EXPECT_EQ(Lines(Pop->MailMessage.Body).back(), "\r\nFile \"\" could not be written");
    EXPECT_EQ(Pop->MailMessage.Body.Get(0), "See the attachment.");
    EXPECT_EQ(Pop->MailMessage.Attachments.Count(), 0);
    EXPECT_EQ(Events.back(), "end");
    EXPECT_FALSE(Pop->Busy());
}

TEST_F(RetrieveTest, TenThousandPartsTakeBoundedTimeAndAtMostTheCapBecomesFiles)
{
    const auto start = Clock::now();
    Retrieve(mailbox::ManyPartsMail(10000));
    EXPECT_LT(MsSince(start), Generous(60s).count()) << "a hang; bench_pop3 has the figure";
    const TMailMessage& m = Pop->MailMessage;
    ASSERT_EQ(m.Attachments.Count(), TNMPOP3::MaxPartFiles);
    EXPECT_EQ(m.Attachments[TNMPOP3::MaxPartFiles - 1], "text_999.tmp") << "numbered as one at a time";
    EXPECT_EQ(ReadFile(Inbox("text_999.tmp")), "part 1000\r\n");
    const std::vector<std::string> body = Lines(m.Body);
    const auto note = std::find(body.begin(), body.end(),
                                "\r\nOnly the first 1000 parts were written to files; the other parts follow as text");
    ASSERT_NE(note, body.end());
    EXPECT_EQ(std::vector<std::string>(note + 1, note + 5),
              (std::vector<std::string>{std::string("--") + mailbox::ManyPartsBoundary, "Content-Type: text/plain", "",
                                        "part 1001"}));
    EXPECT_EQ(body.back(), std::string("--") + mailbox::ManyPartsBoundary + "--");
}

TEST_F(RetrieveTest, AbortOrTheTimeOutEndsTheTakingApartOfAMessage)
{
    std::string raw = "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n\r\n";
    for (int i = 0; i < 1000; ++i)
        raw += "a slow text line\r\n";   // 1 s to take apart
    std::unique_ptr<Later> stop;   // its tick can only come through the parse's pump
    Pop->OnPacketRecvd = [&](TObject*) {
        std::this_thread::sleep_for(1ms);
        if (!stop && Pop->TimeOut > 1000)
            stop = std::make_unique<Later>(1, [&] { Pop->Abort(); });
    };
    for (const int timeOut : {5000, 300}) {
        Pop->TimeOut = timeOut;
        EXPECT_THROW(Retrieve(raw + "--B--\r\n"), EAbortError) << timeOut;
        EXPECT_EQ(Pop->TimeoutFired, timeOut == 300);
        EXPECT_LT(Pop->MailMessage.Body.Count(), 1000);
        EXPECT_EQ(Events.back(), "end");
        EXPECT_FALSE(Pop->Busy());
        EXPECT_FALSE(Pop->Connected);
    }
}

TEST_F(RetrieveTest, DeleteOnReadSendsDeleAfterStoringTheMessage)
{
    Pop->DeleteOnRead = true;
    Retrieve(SinglePart, [](Script& s) { s.Expect("DELE 1").SendLine("+OK").WaitForClose(); });
    EXPECT_EQ(Pop->MailMessage.RawBody.Count(), 3);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "success"), 0) << "no OnSuccess here";
}

TEST_F(RetrieveTest, DeleteOnReadRefusedIsRaisedWithTheMessageStored)
{
    Pop->DeleteOnRead = true;
    EXPECT_EQ(Failure([&] { Retrieve(SinglePart, [](Script& s) { s.Expect("DELE 1").SendLine("-ERR locked").WaitForClose(); }); }),
              "-ERR locked\r\n");
    EXPECT_EQ(Pop->MailMessage.Subject, " Hello there");
    EXPECT_EQ(Events.back(), "end");
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "failure"), 0) << "no OnFailure here";
}

TEST_F(RetrieveTest, RefusedRetrStillFiresOnRetrieveEnd)
{
    ScriptServer server(Login().Expect("RETR 9").SendLine("-ERR no such message").WaitForClose());
    ConnectTo(server);
    EXPECT_EQ(Failure([&] { Pop->GetMailMessage(9); }), "-ERR no such message\r\n");
    EXPECT_EQ(Events, (std::vector<std::string>{"connect", "start", "end"}));
    EXPECT_FALSE(Pop->Busy());
}

TEST_F(RetrieveTest, AMessageThatEndsRightAfterItsHeaderIsReadWithoutWaiting)
{
    ScriptServer server(Login().Expect("RETR 1").Send("+OK\r\nSubject: no body\r\n.\r\n").WaitForClose());
    Pop->TimeOut = 0;
    ConnectTo(server);
    Later guard(5000, [&] { Pop->Abort(); });
    Pop->GetMailMessage(1);
    EXPECT_EQ(Lines(Pop->MailMessage.Header), std::vector<std::string>{"Subject: no body"});
    EXPECT_EQ(Pop->MailMessage.RawBody.Count(), 0);
    EXPECT_EQ(Pop->MailMessage.Subject, " no body");
}

TEST_F(RetrieveTest, ExtractLooksUpTheRetrievedHeader)
{
    Retrieve("Subject:   padded value  \r\nX-Mailer: test\r\n\r\nbody\r\n");
    std::string value = "old";
    Pop->Extract("Subject", value);
    EXPECT_EQ(value, "padded value");
    Pop->Extract("Mailer", value);
    EXPECT_EQ(value, "test") << "the key may be any part of the line";
    Pop->Extract("subject", value);
    EXPECT_EQ(value, "") << "case-sensitive";
}

// ---- the part parser on prepared bodies ----

class PartParserTest : public Pop3Test {
protected:
    // `boundary` is the key; the delimiter lines are "--K9" and "--K9--".
    void Parts(const std::vector<std::string>& raw, const std::string& boundary = "K9")
    {
        TMailMessage& m = Pop->MailMessage;
        m.RawBody.Clear();
        for (const std::string& line : raw)
            m.RawBody.Add(line);
        m.Boundary = boundary;
        Pop->FPartMode = Pop3Probe::PartBodyText;   // as after the top-level header
        Pop->FAttachName.clear();
        Pop->FTransferEncoding.clear();
        Pop3LineCursor = 0;
        Pop->ReadParts();
    }
    std::vector<std::string> Attachments() const { return Lines(Pop->MailMessage.Attachments); }
};

TEST_F(PartParserTest, TheFirstPartIsTextLaterPartsAreFilesUpToTheClosingDelimiter)
{
    Parts({"preamble", "--K9", "Content-Type: text/plain", "", "text 1", "text 2", "--K9",
           "Content-Type: application/octet-stream; name=\"a.bin\"", "", "data", "--K9--", "epilogue"});
    EXPECT_EQ(Lines(Pop->MailMessage.Body), (std::vector<std::string>{"text 1", "text 2", Announce("a.bin")}));
    EXPECT_EQ(Attachments(), std::vector<std::string>{"a.bin"});
    EXPECT_EQ(ReadFile(Inbox("a.bin")), "data\r\n") << "an unencoded part is renamed";
    EXPECT_EQ(Files(), std::vector<std::string>{"a.bin"});
    EXPECT_EQ(Pop3LineCursor, 11) << "the epilogue is not read";
    EXPECT_EQ(Pop->MailMessage.ContentType, "application/octet-stream; name=\"a.bin\"");
}

TEST_F(PartParserTest, OnlyTheKeyFollowedByTwoDashesCloses)
{
    // A key that itself ends in "--": its plain delimiters end in "--" too.
    Parts({"--=_Part--", "", "text", "--=_Part--", "Content-Type: x; name=\"one\"", "", "1", "--=_Part--",
           "Content-Type: x; name=\"two\"", "", "2", "--=_Part----", "epilogue"},
          "=_Part--");
    EXPECT_EQ(Attachments(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(Pop3LineCursor, 12);
}

TEST_F(PartParserTest, ADelimiterIsTwoDashesAndTheKeyAtTheLineStart)
{
    // A legal one-character key: lines that merely contain it, or begin with a longer key,
    // are text.
    Parts({"a preamble", "--a", "", "a text line", "--a  ", "Content-Type: x; name=\"a.bin\"", "", "data a",
           "--abc is text", " --a", "--a--", "after"},
          "a");
    EXPECT_EQ(Lines(Pop->MailMessage.Body), (std::vector<std::string>{"a text line", Announce("a.bin")}));
    EXPECT_EQ(ReadFile(Inbox("a.bin")), "data a\r\n--abc is text\r\n --a\r\n");
    EXPECT_EQ(Pop3LineCursor, 11);
}

TEST_F(PartParserTest, LongNamesAreCutToTheFileSystemsLimitKeepingTheExtension)
{
    std::string japanese;   // 130 Shift-JIS characters after one ASCII byte: 261 bytes
    for (int i = 0; i < 130; ++i)
        japanese += "\x93\xfa" /* sjis: 日 */;
    std::string utf8;   // 86 characters, 258 bytes, as mailers send them today
    for (int i = 0; i < 86; ++i)
        utf8 += "\xe3\x81\x82" /* utf-8: あ */;
    struct Case {
        std::string Name, File;
    };
    const std::vector<Case> cases = {{std::string(296, 'n') + ".pdf", std::string(251, 'n') + ".pdf"},
                                     {"x" + japanese + ".txt", "x" + japanese.substr(0, 250) + ".txt"},
                                     {utf8, utf8.substr(0, 255)},   // 85 whole characters
                                     {std::string(296, 'n') + ".pdf", std::string(249, 'n') + "_1.pdf"}};
    std::vector<std::string> raw = {"--K9", "", "text"};
    for (const Case& c : cases) {
        raw.push_back("--K9");
        raw.push_back("Content-Type: x; name=\"" + c.Name + "\"");
        raw.push_back("");
        raw.push_back("content");
    }
    Parts(raw);
    ASSERT_EQ(Attachments().size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(Attachments()[i], cases[i].File) << i;
        EXPECT_EQ(ReadFile(Inbox(cases[i].File)), "content\r\n") << i;
    }
}

TEST_F(PartParserTest, WithoutAClosingDelimiterTheLastPartEndsWithTheBody)
{
    Parts({"--K9", "", "text", "--K9", "Content-Type: x; name=\"n.txt\"", "", "last 1", "last 2"});
    EXPECT_EQ(ReadFile(Inbox("n.txt")), "last 1\r\nlast 2\r\n");
}

TEST_F(PartParserTest, PartsWithoutANameBecomeTextTmpNumbered)
{
    Parts({"--K9", "", "text", "--K9", "", "one", "--K9", "", "two", "--K9--"});
    EXPECT_EQ(Attachments(), (std::vector<std::string>{"text.tmp", "text_1.tmp"}));
    EXPECT_EQ(ReadFile(Inbox("text_1.tmp")), "two\r\n");
}

TEST_F(PartParserTest, ANameAndAnEncodingCarryOverToTheNextPart)
{
    Parts({"--K9", "", "text", "--K9", "Content-Type: x; name=\"a.bin\"", "Content-Transfer-Encoding: base64", "",
           mailbox::Base64("first"), "--K9", "Content-Type: y", "", mailbox::Base64("second"), "--K9--"});
    EXPECT_EQ(Attachments(), (std::vector<std::string>{"a.bin", "a_1.bin"}));
    EXPECT_EQ(ReadFile(Inbox("a.bin")), "first");
    EXPECT_EQ(ReadFile(Inbox("a_1.bin")), "second") << "decoded with the earlier part's encoding";
}

TEST_F(PartParserTest, AnExistingFileIsNeverReplacedTheNameIsNumbered)
{
    std::ofstream(Inbox("report.pdf")) << "mine";
    std::ofstream(Inbox("report_1.pdf")) << "mine too";
    std::ofstream(Inbox("README")) << "readme";
    Parts({"--K9", "", "text", "--K9", "Content-Type: x; name=\"report.pdf\"", "", "new", "--K9",
           "Content-Type: x; name=\"README\"", "", "new readme", "--K9--"});
    EXPECT_EQ(Attachments(), (std::vector<std::string>{"report_2.pdf", "README_1"}));
    EXPECT_EQ(ReadFile(Inbox("report.pdf")), "mine");
    EXPECT_EQ(ReadFile(Inbox("report_1.pdf")), "mine too");
    EXPECT_EQ(ReadFile(Inbox("README")), "readme");
    EXPECT_EQ(ReadFile(Inbox("README_1")), "new readme\r\n");
}

TEST_F(PartParserTest, APartFileNeverEmptiesAnExistingFile)
{
    const int next = Pop3TempFileCounter + 1;
    std::ofstream(Inbox(TempName(next))) << "from an earlier run";
    Parts({"--K9", "", "text", "--K9", "Content-Type: x; name=\"p.bin\"", "", "part", "--K9--"});
    EXPECT_EQ(ReadFile(Inbox(TempName(next))), "from an earlier run");
    EXPECT_EQ(Pop3TempFileCounter, next + 1);
    EXPECT_EQ(ReadFile(Inbox("p.bin")), "part\r\n");
}

TEST_F(PartParserTest, ANestedMultipartStaysWholeInItsPart)
{
    Parts({"--K9", "", "text", "--K9", "Content-Type: multipart/alternative; boundary=\"in\"", "", "--in", "inner",
           "--in--", "--K9--"});
    EXPECT_EQ(Pop->MailMessage.Boundary, "K9");
    EXPECT_EQ(ReadFile(Inbox("text.tmp")), "--in\r\ninner\r\n--in--\r\n");
}

TEST_F(PartParserTest, AnEmptyPartMakesNoAttachment)
{
    const int before = Pop3TempFileCounter;
    Parts({"--K9", "", "text", "--K9", "Content-Type: x; name=\"e.bin\"", "", "--K9--"});
    EXPECT_TRUE(Attachments().empty());
    EXPECT_EQ(Lines(Pop->MailMessage.Body), std::vector<std::string>{"text"});
    EXPECT_EQ(Pop3TempFileCounter, before + 1);
    EXPECT_EQ(Files(), std::vector<std::string>{TempName(before + 1)}) << "the empty part file stays";
}

TEST_F(PartParserTest, ABodyWithoutItsBoundaryIsAFailure)
{
    EXPECT_THROW(Parts({"no", "delimiter", "here"}), Exception);
    EXPECT_THROW(Parts({"text with K9 inside", "-- K9"}), Exception) << "the key alone makes no delimiter";
    EXPECT_EQ(Pop->MailMessage.Body.Count(), 0);
    EXPECT_THROW(Parts({"--K9", "text"}, ""), Exception) << "an empty key matches nothing";
}

} // namespace
