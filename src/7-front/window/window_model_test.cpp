#include "window/window_model.h"

#include <gtest/gtest.h>

#include "io/paths.h"

namespace {

// A path from the root with the system's separators: P("m/Mail").
std::string P(std::string path) {
  for (char& c : path)
    if (c == '/') c = kPathSeparator;
  return kPathSeparator + path;
}

ProviderInfo Providers(const std::string& address) {
  ProviderInfo info;
  if (address.size() > 10 &&
      address.compare(address.size() - 10, 10, "@gmail.com") == 0) {
    info.known = true;
    info.name = "Gmail";
    info.host = "imap.gmail.com";
    info.signIn = info.password = true;
  } else if (address.find("@outlook.") != std::string::npos) {
    info.known = true;
    info.name = "Outlook.com / Microsoft 365";
    info.host = "outlook.office365.com";
    info.signIn = true;
  }
  return info;
}

SourceSurvey TreeSurvey() {
  SourceSurvey survey;
  survey.ok = survey.tree = survey.counted = true;
  SurveyFolder inbox;
  inbox.name = "Inbox";
  inbox.messages = 1200;
  inbox.bytes = 3 << 20;
  SurveyFolder damaged = inbox;
  damaged.name = "Archive/2001";
  damaged.state = SurveyFolder::State::kDamaged;
  SurveyFolder link;
  link.name = "Elsewhere";
  link.state = SurveyFolder::State::kSkipped;
  link.why = "not a regular file (a link)";
  survey.folders = {inbox, damaged, link};
  return survey;
}

// A model on the destination page, the tree D:/Mail surveyed.
WindowModel AtDestination() {
  WindowModel model(&Providers);
  model.SurveyDone(model.ChooseSource(P("m/Mail")), TreeSurvey());
  EXPECT_TRUE(model.Next());
  return model;
}

TEST(WindowModelTest, TheSourcePageWaitsForASurveyWithBases) {
  WindowModel model(&Providers);
  EXPECT_FALSE(model.Buttons().next);
  EXPECT_EQ(model.Problem(),
            "Choose the mail folder, or one base (a .tbb file).");
  const uint64_t first = model.ChooseSource(P("m/Old"));
  const uint64_t second = model.ChooseSource(" " + P("m/Mail") + " ");
  EXPECT_EQ(model.Source(), P("m/Mail"));
  EXPECT_TRUE(model.Surveying());
  EXPECT_FALSE(model.Buttons().next);
  // The survey of a source chosen before is dropped.
  model.SurveyDone(first, TreeSurvey());
  EXPECT_TRUE(model.Surveying());
  SourceSurvey empty;
  empty.ok = empty.tree = true;
  model.SurveyDone(second, empty);
  EXPECT_FALSE(model.Buttons().next);
  EXPECT_EQ(model.Problem(),
            "No mail folder here: no messages.tbb in this folder or in any "
            "folder below it.");
  model.SurveyDone(second, TreeSurvey());
  EXPECT_TRUE(model.Buttons().next);
  EXPECT_EQ(SurveySummary(model.Survey()),
            "2 folders, 2,400 messages, 6.00 MB. 1 damaged base will be "
            "recovered. 1 item is skipped.");
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
      {false, P("m/a.b/inbox"), OutputChoice::kMaildir,
       P("m/a.b/inbox.maildir")},
      {false, P("m/inbox.tbb"), OutputChoice::kEml, P("m/inbox-eml")},
      {false, P("m/inbox.tbb"), OutputChoice::kAccount, ""},
  };
  for (const Case& c : cases) {
    WindowModel model(&Providers);
    SourceSurvey survey = TreeSurvey();
    survey.tree = c.tree;
    model.SurveyDone(model.ChooseSource(c.source), survey);
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
  EXPECT_TRUE(model.Buttons().closeIsStop);
  EXPECT_EQ(model.Choices().source, P("m/Mail"));
  EXPECT_TRUE(model.Choices().tree);
  EXPECT_EQ(model.Choices().destination, P("m/Mail-mbox"));
  EXPECT_TRUE(model.Choices().inventory);

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
  EXPECT_EQ(account.Choices().destination,
            "imaps://me%40example.org@[::1]:10993/Old%20mail/2001%20%231");
  EXPECT_EQ(account.Choices().credentials.kind, AccountCredentials::kPassword);
  EXPECT_EQ(account.Choices().credentials.secret, "p@ss word");
}

TEST(WindowModelTest, ASignInHoldsForItsAddress) {
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
  model.SignInDone(false, "the consent was refused");
  EXPECT_EQ(model.SignInText(),
            "The sign-in did not work: the consent was refused");
  model.SignInStarted();
  model.SignInDone(true, "token-1");
  EXPECT_EQ(model.Problem(), "");
  ASSERT_TRUE(model.Next());
  EXPECT_EQ(model.Choices().destination,
            "imaps://me%40outlook.com@outlook.office365.com:993/Mail");
  EXPECT_EQ(model.Choices().credentials.kind, AccountCredentials::kOAuth2Token);
  EXPECT_EQ(model.Choices().credentials.secret, "token-1");

  WindowModel other = AtDestination();
  other.ChooseOutput(OutputChoice::kAccount);
  ASSERT_TRUE(other.Next());
  other.SetAccount(fields);
  other.SignInStarted();
  other.SignInDone(true, "token-1");
  fields.address = "you@outlook.com";
  other.SetAccount(fields);
  EXPECT_EQ(other.SignIn(), SignInState::kNone);
  EXPECT_EQ(other.Problem(), "Sign in to the account.");
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
