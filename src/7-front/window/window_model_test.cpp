#include "window/window_model.h"

#include <gtest/gtest.h>

#include "io/paths.h"
#include "window/shown_text.h"

namespace {

// A path from the root with the system's separators: P("m/Mail"); on
// Windows on a drive, as full names are.
std::string P(std::string path) {
  for (char& c : path)
    if (c == '/') c = kPathSeparator;
#ifdef _WIN32
  return "C:\\" + path;
#else
  return "/" + path;
#endif
}

TreeFolder Base(const std::string& path, uint64_t size) {
  TreeFolder f;
  f.path = path;
  f.baseName = "messages.tbb";
  f.baseSize = size;
  f.state = TreeBaseState::kWaiting;
  return f;
}

// ROOT (no base), Inbox, Archive/2001 (damaged), and a link named as a
// base.
TreeFolders TreeOfFour() {
  TreeFolder root;
  TreeFolder link;
  link.path = "Elsewhere";
  link.skippedName = "messages.tbb";
  link.skippedKind = EntryKind::kLink;
  return {root, Base("Inbox", 3 << 20),
          Base(std::string("Archive") + kPathSeparator + "2001", 3 << 20),
          link};
}

TreeFolder Scanned(TreeFolder f, int messages, bool recovered) {
  f.state = TreeBaseState::kDone;
  f.result.messages = messages;
  f.result.recovered = recovered;
  f.result.scan = recovered ? ScanKind::kRecovered : ScanKind::kNormal;
  return f;
}

// The survey of TreeOfFour told in full.
void SurveyInFull(WindowModel* model, uint64_t ticket) {
  const TreeFolders folders = TreeOfFour();
  model->SurveyPlanned(ticket, true, folders);
  model->SurveyScanned(ticket, 1, Scanned(folders[1], 1200, false));
  model->SurveyScanned(ticket, 2, Scanned(folders[2], 1200, true));
  model->SurveyFinished(ticket, Status::Ok());
}

// A model on the destination page, the tree D:/Mail surveyed.
WindowModel AtDestination() {
  WindowModel model;
  SurveyInFull(&model, model.ChooseSource(P("m/Mail")));
  EXPECT_TRUE(model.Next());
  return model;
}

TEST(WindowModelTest, TheSourcePageWaitsForASurveyWithBases) {
  WindowModel model;
  EXPECT_FALSE(model.Buttons().next);
  EXPECT_EQ(model.Problem(),
            "Choose the mail folder, or one base (a .tbb file).");
  const uint64_t first = model.ChooseSource(P("m/Old"));
  const uint64_t second = model.ChooseSource(" " + P("m/Mail") + " ");
  EXPECT_EQ(model.Source(), P("m/Mail"));
  EXPECT_FALSE(model.Surveyed());
  EXPECT_FALSE(model.Buttons().next);
  EXPECT_EQ(model.Problem(), "Looking at what is there...");
  // The survey of a source chosen before is dropped.
  EXPECT_FALSE(model.SurveyPlanned(first, true, TreeOfFour()));
  EXPECT_FALSE(model.Surveyed());
  TreeFolders empty(1);
  EXPECT_TRUE(model.SurveyPlanned(second, true, empty));
  model.SurveyFinished(second, Status::Ok());
  EXPECT_FALSE(model.Buttons().next);
  EXPECT_EQ(model.Problem(),
            "No mail folder here: no messages.tbb in this folder or in any "
            "folder below it.");
  const TreeFolders folders = TreeOfFour();
  model.SurveyPlanned(second, true, folders);
  // Next as soon as the walk has found bases; their messages come later.
  EXPECT_TRUE(model.Buttons().next);
  EXPECT_EQ(SurveySummary(model.Survey()),
            "2 folders, counting the messages, 6.00 MB. 1 item is skipped.");
  model.SurveyScanned(second, 2, Scanned(folders[2], 1200, true));
  model.SurveyScanned(second, 1, Scanned(folders[1], 1200, false));
  model.SurveyFinished(second, Status::Ok());
  EXPECT_EQ(SurveySummary(model.Survey()),
            "2 folders, 2,400 messages, 6.00 MB. 1 damaged base will be "
            "recovered. 1 item is skipped.");
  const std::vector<size_t> listed = ListedFolders(model.Survey());
  ASSERT_EQ(listed, std::vector<size_t>({1, 2, 3}));
  EXPECT_EQ(model.SurveyLabel(2), "Archive/2001");
  EXPECT_EQ(SurveyNote(model.Survey().folders[2]),
            "damaged, will be recovered");
  EXPECT_EQ(SurveyNote(model.Survey().folders[3]),
            "skipped: a link, not a file");

  const uint64_t third = model.ChooseSource(P("m/missing"));
  model.SurveyFinished(third,
                       Status::Of(StatusKind::kNotFound, "can't open it"));
  EXPECT_EQ(model.Problem(), "can't open it");
}

TEST(WindowModelTest, TheOutputGoesBesideTheSourceUnlessChosen) {
  struct Case {
    bool tree;
    std::string source;
    OutputChoice choice;
    std::string expected;
  };
  const Case cases[] = {
      {true, P("m/Mail/"), OutputChoice::kThunderbird, P("m/Mail-mbox")},
      {true, P("m/Mail"), OutputChoice::kMaildir, P("m/Mail-maildir")},
      {true, P("m/Mail"), OutputChoice::kEml, P("m/Mail-eml")},
      {false, P("m/a.b/inbox.tbb"), OutputChoice::kThunderbird,
       P("m/a.b/inbox.mbx")},
      {false, P("m/ab/inbox"), OutputChoice::kMaildir, P("m/ab/inbox.maildir")},
      {false, P("m/inbox.tbb"), OutputChoice::kEml, P("m/inbox-eml")},
      {false, P("m/inbox.tbb"), OutputChoice::kAccount, ""},
  };
  for (const Case& c : cases) {
    WindowModel model;
    model.SurveyPlanned(model.ChooseSource(c.source), c.tree, TreeOfFour());
    model.ChooseOutput(c.choice);
    EXPECT_EQ(model.OutputPath(), c.expected) << c.source;
  }
  WindowModel model = AtDestination();
  model.SetOutputPath(P("n/Elsewhere"));
  model.ChooseOutput(OutputChoice::kMaildir);
  EXPECT_EQ(model.OutputPath(), P("m/Mail-maildir"));
  model.ChooseOutput(OutputChoice::kThunderbird);
  EXPECT_EQ(model.OutputPath(), P("n/Elsewhere"));
  model.SetOutputPath("");
  EXPECT_EQ(model.Problem(), "");  // empty is the default again
  EXPECT_EQ(model.OutputPath(), P("m/Mail-mbox"));
  // A folder picked: itself where it is empty, else a new one in it.
  model.ChooseOutputFolder(P("n/Empty"), true);
  EXPECT_EQ(model.OutputPath(), P("n/Empty"));
  model.ChooseOutputFolder(P("n/Full"), false);
  EXPECT_EQ(model.OutputPath(), P("n/Full/Mail-mbox"));
}

TEST(WindowModelTest, AnAccountIsCheckedBeforeStart) {
  struct Case {
    AccountFields fields;
    std::string problem;
  };
  AccountFields good;
  good.address = "me@example.org";
  good.host = "mail.example.org";
  good.password = "secret";
  auto with = [&good](void (*change)(AccountFields*)) {
    AccountFields f = good;
    change(&f);
    return f;
  };
  const Case cases[] = {
      {with([](AccountFields* f) { f->address = " "; }),
       "Type the address of the account."},
      {with([](AccountFields* f) { f->address = "me at example.org"; }),
       "An address has the form name@example.com."},
      {with([](AccountFields* f) { f->address = "a@b@c"; }),
       "An address has the form name@example.com."},
      {with([](AccountFields* f) { f->host = ""; }),
       "Type the name of the mail server (IMAP)."},
      {with([](AccountFields* f) { f->port = "0"; }),
       "The port is a number from 1 to 65535 (993 for most servers)."},
      {with([](AccountFields* f) { f->port = "65536"; }),
       "The port is a number from 1 to 65535 (993 for most servers)."},
      {with([](AccountFields* f) { f->password = ""; }),
       "Type the password of the account."},
      {with([](AccountFields* f) { f->address = "me@outlook.com"; }),
       "Sign in to the account."},
      {with([](AccountFields* f) {
         f->address = "me@gmail.com";
         f->password = "";
       }),
       "Sign in to the account, or type an app password."},
      {with([](AccountFields* f) { f->address = "me@gmail.com"; }), ""},
      // A provider's own server for an address of another domain.
      {with([](AccountFields* f) {
         f->address = "me@example.org";
         f->host = "outlook.office365.com";
       }),
       "Sign in to the account."},
      {good, ""},
  };
  for (const Case& c : cases) {
    WindowModel model = AtDestination();
    model.ChooseOutput(OutputChoice::kAccount);
    EXPECT_EQ(model.Buttons().nextText, "&Next >");
    ASSERT_TRUE(model.Next());
    model.SetAccount(c.fields);
    EXPECT_EQ(model.Problem(), c.problem) << c.fields.address;
    EXPECT_EQ(model.Buttons().next, c.problem.empty());
  }
}

TEST(WindowModelTest, StartSendsTheChoices) {
  WindowModel model = AtDestination();
  model.SetInventory(true);
  EXPECT_EQ(model.Buttons().nextText, "&Start");
  ASSERT_TRUE(model.Next());
  EXPECT_EQ(model.CurrentPage(), Page::kConvert);
  EXPECT_TRUE(model.Running());
  EXPECT_FALSE(model.MayCloseNow());
  EXPECT_FALSE(model.Buttons().back);
  EXPECT_FALSE(model.Buttons().next);
  EXPECT_EQ(model.Buttons().closeText, "Cancel");
  EXPECT_EQ(model.Request().source, P("m/Mail"));
  EXPECT_TRUE(model.Request().tree);
  EXPECT_EQ(model.Request().kind, &DefaultOutputKind());
  EXPECT_EQ(model.Request().destination.value_or(""), P("m/Mail-mbox"));
  EXPECT_TRUE(model.Request().inventory);
  EXPECT_EQ(model.OutputFolder(), P("m/Mail-mbox"));
  EXPECT_EQ(model.InventoryFolder(), P("m"));

  WindowModel account = AtDestination();
  account.ChooseOutput(OutputChoice::kAccount);
  ASSERT_TRUE(account.Next());
  AccountFields fields;
  fields.address = "me@example.org";
  fields.host = "::1";
  fields.port = "10993";
  fields.password = "p@ss word";
  account.SetAccount(fields);
  EXPECT_EQ(account.AccountFolder(), "Mail");
  fields.folder = "Old mail/2001 #1";
  account.SetAccount(fields);
  ASSERT_TRUE(account.Next());
  EXPECT_EQ(account.Request().destination.value_or(""),
            "imaps://me%40example.org@[::1]:10993/Old%20mail/2001%20%231");
  EXPECT_EQ(account.Request().account.credentials.kind,
            AccountCredentials::kPassword);
  EXPECT_EQ(account.Request().account.credentials.secret, "p@ss word");
  EXPECT_EQ(account.OutputFolder(), "");
}

// Tokens that are never asked: the model only hands them on.
class FixedTokens : public AccessTokens {
 public:
  Status Token(std::string* token) override {
    *token = "token-1";
    return Status::Ok();
  }
  Status Renew(const std::string&, std::string* token) override {
    return Token(token);
  }
};

TEST(WindowModelTest, ASignInHoldsForItsAccount) {
  WindowModel model = AtDestination();
  model.ChooseOutput(OutputChoice::kAccount);
  ASSERT_TRUE(model.Next());
  AccountFields fields;
  fields.address = "me@outlook.com";
  model.SetAccount(fields);
  EXPECT_TRUE(model.ShowsSignIn());
  EXPECT_FALSE(model.ShowsPassword());
  EXPECT_FALSE(model.ShowsServer());
  model.SignInStarted();
  EXPECT_FALSE(model.Buttons().back);
  EXPECT_FALSE(model.Buttons().next);
  model.SignInPage("https://login.example/authorize?x=1", false);
  EXPECT_EQ(model.SignInText(),
            "No browser could be opened: open "
            "https://login.example/authorize?x=1 in one, and sign in there.");
  model.SignInDone(Status::Of(StatusKind::kRefused, "the consent was refused"),
                   "", nullptr);
  EXPECT_EQ(model.SignInText(),
            "The sign-in did not work: the consent was refused.");
  model.SignInStarted();
  auto tokens = std::make_shared<FixedTokens>();
  model.SignInDone(Status::Ok(), "", tokens);
  EXPECT_EQ(model.SignInText(), "Signed in as me@outlook.com.");
  EXPECT_EQ(model.Problem(), "");
  ASSERT_TRUE(model.Next());
  EXPECT_EQ(model.Request().destination.value_or(""),
            "imaps://me%40outlook.com@outlook.office365.com:993/Mail");
  EXPECT_EQ(model.Request().account.credentials.kind,
            AccountCredentials::kOAuth2Token);
  EXPECT_EQ(model.Request().account.credentials.tokens, tokens);
  EXPECT_EQ(model.Request().account.credentials.secret, "");

  WindowModel other = AtDestination();
  other.ChooseOutput(OutputChoice::kAccount);
  ASSERT_TRUE(other.Next());
  other.SetAccount(fields);
  other.SignInStarted();
  other.SignInDone(Status::Ok(), "", tokens);
  fields.address = "you@outlook.com";
  other.SetAccount(fields);
  EXPECT_EQ(other.SignIn(), SignInState::kNone);
  EXPECT_EQ(other.SignedIn(), nullptr);
  EXPECT_EQ(other.Problem(), "Sign in to the account.");
}

// A run carried on: Inbox done before, Archive/2001 to convert.
TEST(WindowModelTest, TheRunsEventsMoveTheViewToItsOutcome) {
  WindowModel model = AtDestination();
  ASSERT_TRUE(model.Next());
  TreeFolders folders = TreeOfFour();
  folders[1].state = TreeBaseState::kDoneBefore;
  folders[1].result.messages = 1200;
  RunPlan plan;
  plan.tree = true;
  plan.basesToConvert = 1;
  plan.bytesToConvert = 3 << 20;
  EarlierRunInfo earlier;
  earlier.doneBefore = 1;
  model.RunEarlier(earlier);
  model.RunPlanned(plan, folders);
  const ProgressView& view = model.Progress();
  EXPECT_EQ(view.BarPosition(), 5000);
  EXPECT_EQ(view.TimeLeftText(), "Working it out...");
  model.RunBaseStarted(2);
  EXPECT_EQ(view.FolderText(), "Archive/2001");
  RunProgress figures;
  figures.bytesTotal = 3 << 20;
  figures.bytesDone = 3 << 19;
  figures.messagesDone = 600;
  figures.seconds = 40;
  model.RunProgressed(figures);
  EXPECT_EQ(view.BarPosition(), 7500);
  EXPECT_EQ(view.MessagesText(), "600 written");
  EXPECT_EQ(view.TimeLeftText(), "About 40 seconds");
  model.RunBaseFinished(2, Scanned(folders[2], 1199, true));
  RunReport report;
  report.planned = report.tree = true;
  folders[2] = Scanned(folders[2], 1199, true);
  report.folders = &folders;
  report.inventory.asked = report.inventory.made = true;
  report.inventory.name = P("m/Mail-mbox/inventory.csv");
  report.inventory.rows = 2399;
  model.RunFinished(report, folders);
  EXPECT_FALSE(model.Running());
  EXPECT_EQ(model.CurrentPage(), Page::kDone);
  EXPECT_EQ(model.Title(), "Done");
  EXPECT_EQ(model.Intro(),
            "2,399 messages from 2 folders are in " + P("m/Mail-mbox") + ".");
  const std::vector<OutcomeRow> rows = OutcomeRows(model.Run());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].folder + "|" + rows[0].messages + "|" + rows[0].outcome,
            "Inbox|1,200|done before");
  EXPECT_EQ(rows[1].folder + "|" + rows[1].messages + "|" + rows[1].outcome,
            "Archive/2001|1,199|recovered");
  EXPECT_EQ(rows[2].folder + "|" + rows[2].messages + "|" + rows[2].outcome,
            "Elsewhere||skipped: a link");
  EXPECT_EQ(model.RunNotes(),
            "This run carried on one that was cut off: 1 folder was done "
            "before and kept.\n\n"
            "\"Archive/2001\" was damaged. korvane read it up to a broken "
            "record and searched the rest and recovered 1,199 messages. Look "
            "through them: a recovered message may have lost its sender or "
            "date (it is then named \"recovered message\"). The base itself "
            "is unchanged.\n\n"
            "\"Elsewhere\" holds a link where the base would be. korvane does "
            "not follow links, so that nothing is converted twice or from "
            "outside the folder; convert what it leads to on its own if you "
            "need it.\n\n"
            "The inventory is " +
                P("m/Mail-mbox/inventory.csv") +
                ": a row for each message, and for each record of a base "
                "that held none, 2,399 rows in all.");
}

// An account's answers: counted from the folders done (a stopped one's
// too), a refusal told with the server's words, escaped.
TEST(WindowModelTest, AnAccountsAnswersComeWithItsFolders) {
  WindowModel model = AtDestination();
  model.ChooseOutput(OutputChoice::kAccount);
  ASSERT_TRUE(model.Next());
  AccountFields fields;
  fields.address = "me@example.org";
  fields.host = "mail.example.org";
  fields.password = "secret";
  model.SetAccount(fields);
  ASSERT_TRUE(model.Next());
  TreeFolders folders = TreeOfFour();
  RunPlan plan;
  plan.tallied = true;
  model.RunPlanned(plan, folders);
  const ProgressView& view = model.Progress();
  EXPECT_EQ(view.TallyText(), "counted as each folder is done");
  TreeFolder inbox = Scanned(folders[1], 8, false);
  inbox.result.tallied = true;
  inbox.result.tally.delivered = 5;
  inbox.result.tally.alreadyThere = 2;
  inbox.result.tally.refused = 1;
  inbox.result.tally.refusals = {"message 3: NO [LIMIT] too big\x1b[31m"};
  TreeFolder archive = Scanned(folders[2], 3, false);
  archive.result.outcome = ConversionOutcome::kCancelled;
  archive.result.tallied = true;
  archive.result.tally.delivered = 3;
  model.RunBaseFinished(1, inbox);
  model.RunBaseFinished(2, archive);
  EXPECT_EQ(view.TallyText(), "8 uploaded, 2 already there, 1 refused");
  RunReport report;
  report.planned = report.tree = report.tallied = true;
  report.status = kRunFailed;
  // Made in the current folder, which the window sets beside the source.
  report.inventory.asked = report.inventory.made = true;
  report.inventory.name = "mail.example.org-INBOX.csv";
  report.inventory.rows = 11;
  folders[1] = inbox;
  model.RunFinished(report, folders);
  EXPECT_EQ(model.Title(), "Done, with problems");
  const std::vector<OutcomeRow> rows = OutcomeRows(model.Run());
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].outcome + "|" + rows[0].uploaded + "|" + rows[0].there +
                "|" + rows[0].refused,
            "uploaded, 1 refused|5|2|1");
  EXPECT_EQ(rows[1].outcome, "not converted");
  EXPECT_NE(model.RunNotes().find(
                "The server refused 1 message of \"Inbox\"; the others went "
                "in. It said: message 3: NO [LIMIT] too big\\x1b[31m."),
            std::string::npos)
      << model.RunNotes();
  EXPECT_NE(model.RunNotes().find("The inventory is " +
                                  P("m/mail.example.org-INBOX.csv") + ":"),
            std::string::npos)
      << model.RunNotes();
}

// A run stopped, or refused before it began, stays on its page, where
// Start carries it on or Back changes the choices.
TEST(WindowModelTest, AStoppedRunWaitsForStart) {
  struct Case {
    bool planned, cancelled;
    Status error;
    std::string title, notes;
  };
  const Case cases[] = {
      {true, true, Status(), "Stopped",
       "You stopped the run. What was finished is kept; press Start to carry "
       "on where it stopped."},
      {false, false,
       Status::Of(StatusKind::kExists, "the folder X is not empty"),
       "Could not start",
       "korvane could not start: the folder X is not empty. Choose an empty "
       "folder, or a new name, to convert into."},
  };
  for (const Case& c : cases) {
    WindowModel model = AtDestination();
    ASSERT_TRUE(model.Next());
    const RunRequest first = model.Request();
    TreeFolders folders = TreeOfFour();
    if (c.planned) model.RunPlanned(RunPlan(), folders);
    model.StopRequested();
    EXPECT_EQ(model.Title(), "Stopping...");
    if (!c.error.IsOk()) model.RunError(c.error);
    RunReport report;
    report.planned = c.planned;
    report.cancelled = c.cancelled;
    report.status = c.cancelled ? kRunDone : kRunFailed;
    model.RunFinished(report, folders);
    EXPECT_EQ(model.CurrentPage(), Page::kConvert);
    EXPECT_EQ(model.Title(), c.title);
    EXPECT_EQ(model.RunNotes(), c.notes);
    EXPECT_TRUE(model.MayCloseNow());
    EXPECT_TRUE(model.Buttons().back);
    EXPECT_EQ(model.Buttons().nextText, "&Start");
    ASSERT_TRUE(model.Next());
    EXPECT_TRUE(model.Running());
    EXPECT_EQ(model.Request().destination.value_or(""), first.destination);
    EXPECT_EQ(model.RunNotes(), "");
  }
}

TEST(WindowModelTest, TimeLeftInWords) {
  const std::pair<double, const char*> cases[] = {
      {0, "A few seconds"},
      {9.9, "A few seconds"},
      {11, "About 15 seconds"},
      {54, "About 55 seconds"},
      {80, "About a minute"},
      {150, "About 3 minutes"},
      {3599, "About 1 hour"},
      {3600 * 2 + 600, "About 2 hours 10 minutes"},
      {3600 * 26, "About 26 hours"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeLeftWords(c.first), c.second);
}

TEST(WindowModelTest, TextFromTheDiskIsShownSafely) {
  const std::pair<std::string, std::string> cases[] = {
      {"Bücher Ωμέγα 日本", "Bücher Ωμέγα 日本"},
      {"a\x1b[2Jb\r\n", "a\\x1b[2Jb\\x0d\\x0a"},
      {"\xff\xc3(", "\xef\xbf\xbd\xef\xbf\xbd("},
      {"x\xc2\x85y\xe2\x80\xa8", "x\\x85y\\u2028"},
  };
  for (const auto& c : cases) EXPECT_EQ(ShownText(c.first), c.second);
}

TEST(WindowModelTest, NumbersAndSizesInWords) {
  EXPECT_EQ(CountWords(0), "0");
  EXPECT_EQ(CountWords(999), "999");
  EXPECT_EQ(CountWords(1000), "1,000");
  EXPECT_EQ(CountWords(-1234567), "-1,234,567");
  EXPECT_EQ(SizeWords(1), "1 byte");
  EXPECT_EQ(SizeWords(1023), "1,023 bytes");
  EXPECT_EQ(SizeWords(1024), "1.00 KB");
  EXPECT_EQ(SizeWords(5882511), "5.61 MB");
  EXPECT_EQ(SizeWords(58825110), "56.1 MB");
  EXPECT_EQ(SizeWords(588251100), "561 MB");
  EXPECT_EQ(SizeWords(3ull << 40), "3.00 TB");
}

}  // namespace
