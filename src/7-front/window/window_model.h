// What the window shows and allows, apart from how it is drawn: its pages,
// the user's choices, what is enabled, what is wrong with the choices, the
// request Start sends to the run, and how the run's events change the
// view. The Win32 code draws it and hands it the user's input and the
// run's events (on its own thread, in order); the tests drive it on any
// system.
#ifndef KORVANE_WINDOW_WINDOW_MODEL_H_
#define KORVANE_WINDOW_WINDOW_MODEL_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "account/access_tokens.h"
#include "run/run_request.h"
#include "window/progress_view.h"
#include "window/run_outcome.h"
#include "window/source_survey.h"

// The account page follows the destination page where the mail goes into
// an account; the progress page stays after a stop, so that Start carries
// the run on.
enum class Page { kSource, kDestination, kAccount, kConvert, kDone };

enum class OutputChoice { kThunderbird, kMaildir, kEml, kAccount };

// What korvane knows of the provider an account belongs to (the sign-in's
// table), by the address's domain or else by the server typed.
struct ProviderInfo {
  bool known = false;
  bool byHost = false;  // known by the server typed: it stays shown
  std::string name;     // "Google (Gmail)"
  std::string host;
  bool password = false;  // also takes a password (an app password)
};
ProviderInfo KnownProvider(const std::string& address, const std::string& host);

// The account's fields as the user typed them.
struct AccountFields {
  std::string address;
  std::string user;  // "": the address
  std::string password;
  std::string host;
  std::string port = "993";
  std::string folder;  // "": the source's name
};

enum class SignInState { kNone, kRunning, kSignedIn, kFailed };

// The three buttons at the bottom of every page.
struct ButtonsView {
  bool back = false;
  bool next = false;
  std::string nextText;   // "&Next >", "&Start"
  std::string closeText;  // "Cancel", "Close"
};

class WindowModel {
 public:
  Page CurrentPage() const { return page; }
  ButtonsView Buttons() const;
  // What keeps the page from going on, in one line; "" when nothing does.
  std::string Problem() const;
  std::string Title() const;
  std::string Intro() const;

  // The source page.
  // A folder or base chosen, dropped or typed. Returns the number its
  // survey is to be told with; 0 for none (an empty path, a run going).
  uint64_t ChooseSource(const std::string& path);
  const std::string& Source() const { return source; }
  bool Surveyed() const { return surveyed; }
  // The survey of the source chosen with ticket, as the run's survey tells
  // it; what belongs to another ticket is dropped. False for such.
  bool SurveyPlanned(uint64_t ticket, bool tree, const TreeFolders& folders);
  bool SurveyScanned(uint64_t ticket, size_t index, const TreeFolder& folder);
  // The end: ok, or why the source could not be looked at.
  bool SurveyFinished(uint64_t ticket, const Status& failure);
  const SourceSurvey& Survey() const { return survey; }
  // The survey's folder at index as the list names it (shown text).
  std::string SurveyLabel(size_t index) const;

  // The destination page.
  void ChooseOutput(OutputChoice choice);
  OutputChoice Output() const { return output; }
  // The folder (or file) the output goes to: the one the user set, else the
  // one beside the source that the command line takes.
  std::string OutputPath() const;
  void SetOutputPath(const std::string& path);
  // A folder chosen in the picker: itself where it is empty, else the
  // default's name in it.
  void ChooseOutputFolder(const std::string& folder, bool empty);
  void SetInventory(bool on) { inventory = on; }
  bool Inventory() const { return inventory; }
  // One line saying what a choice gives.
  static std::string OutputDescription(OutputChoice choice);

  // The account page.
  void SetAccount(const AccountFields& fields);
  const AccountFields& Account() const { return account; }
  // The folder in the account, as shown: the user's, else the source's
  // name.
  std::string AccountFolder() const;
  const ProviderInfo& Provider() const { return provider; }
  // Which of the account's fields are shown: the sign-in, or the password
  // with the server's name and port.
  bool ShowsSignIn() const { return provider.known; }
  bool ShowsPassword() const { return !provider.known || provider.password; }
  bool ShowsServer() const { return !provider.known || provider.byHost; }
  // The sign-in: asked for the account's address and server; the page the
  // browser was opened on (or could not be), a device's code to enter;
  // then its outcome: tokens, or why not (status and a hint).
  void SignInStarted();
  void SignInPage(const std::string& url, bool opened);
  void SignInCode(const std::string& page, const std::string& code);
  void SignInDone(const Status& status, const std::string& hint,
                  std::shared_ptr<AccessTokens> tokens);
  SignInState SignIn() const { return signIn; }
  std::string SignInText() const;
  // Who signs in where: the account's user and server (the sign-in finds
  // the provider's endpoints in its table).
  std::string SignInUser() const;
  std::string SignInHost() const;
  // The tokens a sign-in gave, which the run's connections ask; null for
  // none.
  const std::shared_ptr<AccessTokens>& SignedIn() const { return tokens; }

  // The buttons.
  void Back();
  // Next on the source page (and on the destination page for an account);
  // Start on the last page of choices and, after a stop, on the progress
  // page: the run begins. False where the page does not allow it.
  bool Next();
  // What Start asks of the run (its cancel flag and the account's
  // certificates are the window's to add).
  const RunRequest& Request() const { return request; }
  // The run is going: Cancel (or closing) asks it to stop.
  bool Running() const { return running; }
  void StopRequested() { stopping = running; }
  bool Stopping() const { return stopping; }
  // Closing the window: true when it may close at once, false when a run
  // is going and the user is to be asked first.
  bool MayCloseNow() const { return !running; }
  // Where the output is, for "Open the output folder": "" for an account.
  std::string OutputFolder() const;
  // Where a run into an account writes its inventory (its current
  // folder): beside the source.
  std::string InventoryFolder() const;

  // The run's events, copied, in the order the run told them.
  void RunEarlier(const EarlierRunInfo& earlier);
  void RunPlanned(const RunPlan& plan, const TreeFolders& folders);
  void RunBaseStarted(size_t index);
  void RunProgressed(const RunProgress& progress);
  void RunBaseFinished(size_t index, const TreeFolder& folder);
  void RunTold(const Notice& notice);
  void RunError(const Status& error);
  void RunFinished(const RunReport& report, const TreeFolders& folders);

  // The run's events as --log writes them (JSON Lines): every run since the
  // source was chosen, for "Save the report".
  void RunLogged(const std::string& lines) { report += lines; }
  const std::string& Report() const { return report; }
  // The name the report is offered under.
  std::string ReportName() const;

  const ProgressView& Progress() const { return progress; }
  const RunRecord& Run() const { return record; }
  // The progress page's notes: what the server said so far, and after a
  // stop, why and what to do.
  std::string RunNotes() const;

 private:
  std::string ProblemOfSource() const;
  std::string ProblemOfDestination() const;
  std::string ProblemOfAccount() const;
  RunRequest ChosenRequest() const;
  std::string AccountUrl() const;
  std::string DefaultOutputPath() const;
  void Start();

  Page page = Page::kSource;

  std::string source;
  uint64_t surveyTicket = 0;
  uint64_t lastTicket = 0;
  bool surveyed = false;
  SourceSurvey survey;

  OutputChoice output = OutputChoice::kThunderbird;
  std::string outputPath[3];  // the user's, per file kind; "" for default
  bool inventory = false;
  AccountFields account;
  ProviderInfo provider;
  SignInState signIn = SignInState::kNone;
  std::string signInSays;  // the page or code to go to, why it failed
  std::shared_ptr<AccessTokens> tokens;

  RunRequest request;
  bool running = false;
  bool stopping = false;
  ProgressView progress;
  RunRecord record;
  std::string report;
};

#endif  // KORVANE_WINDOW_WINDOW_MODEL_H_
