// What the window shows and allows, apart from how it is drawn: its pages,
// the user's choices, what is enabled, what is wrong with the choices, what
// Start asks the run to do, and how the run's events change the view. The
// Win32 code draws it and hands it the user's input; the tests drive it on
// any system.
#ifndef KORVANE_WINDOW_WINDOW_MODEL_H_
#define KORVANE_WINDOW_WINDOW_MODEL_H_

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "account/account_access.h"
#include "window/source_survey.h"

// The account page follows the destination page where the mail goes into
// an account.
enum class Page { kSource, kDestination, kAccount, kConvert, kDone };

enum class OutputChoice { kThunderbird, kMaildir, kEml, kAccount };

// What korvane knows of the provider an address belongs to.
struct ProviderInfo {
  bool known = false;
  std::string name;  // "Outlook.com / Microsoft 365"
  std::string host;
  uint16_t port = 993;
  bool signIn = false;    // signs in through the browser
  bool password = false;  // also takes a password (an app password)
};

// The account's fields as the user typed them.
struct AccountFields {
  std::string address;
  std::string user;  // "": the address
  std::string password;
  std::string host;
  std::string port = "993";
  std::string folder;  // the folder in the account the mail goes into
};

enum class SignInState { kNone, kRunning, kSignedIn, kFailed };

// What Start asks the run to do.
struct RunChoices {
  std::string source;  // the folder (a tree) or the base
  bool tree = false;
  OutputChoice output = OutputChoice::kThunderbird;
  // A path, or for an account its URL (imaps://USER@HOST:PORT/FOLDER).
  std::string destination;
  bool inventory = false;
  // For an account: the password, or the token of the sign-in.
  AccountCredentials credentials;
};

// The three buttons at the bottom of every page.
struct ButtonsView {
  bool back = false;
  bool next = false;
  std::string nextText;      // "Next >", "Start"
  std::string closeText;     // "Cancel", "Close"
  bool closeIsStop = false;  // the run is going: the button stops it
};

class WindowModel {
 public:
  // Tells what an address's provider is (the sign-in's table).
  typedef std::function<ProviderInfo(const std::string& address)>
      ProviderLookup;
  explicit WindowModel(ProviderLookup lookup);

  Page CurrentPage() const { return page; }
  ButtonsView Buttons() const;
  // What keeps the page from going on, in one line; "" when nothing does.
  std::string Problem() const;

  // The source page.
  // A folder or base chosen, dropped or typed. Returns the number the
  // survey of it is to be answered with (SurveyDone); an empty path asks
  // for none and returns 0.
  uint64_t ChooseSource(const std::string& path);
  const std::string& Source() const { return source; }
  bool Surveying() const { return surveyTicket != 0 && !surveyed; }
  // The survey of the source chosen with ticket; older ones are dropped.
  void SurveyDone(uint64_t ticket, const SourceSurvey& survey);
  const SourceSurvey& Survey() const { return survey; }

  // The destination page.
  void ChooseOutput(OutputChoice choice);
  OutputChoice Output() const { return output; }
  // The folder (or file) the output goes to: the one the user set, else the
  // one beside the source that the command line would take.
  std::string OutputPath() const;
  void SetOutputPath(const std::string& path);
  void SetInventory(bool on) { inventory = on; }
  bool Inventory() const { return inventory; }
  // One line saying what a choice gives.
  static std::string OutputDescription(OutputChoice choice);

  void SetAccount(const AccountFields& fields);
  const AccountFields& Account() const { return account; }
  // The folder in the account, as shown: the user's, else the source's
  // name.
  std::string AccountFolder() const;
  const ProviderInfo& Provider() const { return provider; }
  // Which of the account's fields are shown: the sign-in, or the password
  // with the server's name and port.
  bool ShowsSignIn() const { return provider.known && provider.signIn; }
  bool ShowsPassword() const { return !provider.known || provider.password; }
  bool ShowsServer() const { return !provider.known; }
  void SignInStarted();
  // The sign-in's outcome: a token on success, else why it failed.
  void SignInDone(bool ok, const std::string& tokenOrWhy);
  SignInState SignIn() const { return signIn; }
  std::string SignInText() const;

  // The buttons.
  void Back();
  // Next on the source page (and on the destination page for an account);
  // Start on the last page of choices and, after a stop, on the progress
  // page. False where the page does not allow it.
  bool Next();
  // What the run is to do; valid once Next has started a run.
  const RunChoices& Choices() const { return choices; }
  // The run is going: Cancel asks it to stop.
  bool Running() const { return running; }
  void StopRequested() { stopping = true; }
  bool Stopping() const { return stopping; }
  // Closing the window: true when it may close at once, false when the run
  // is going and the user is to be asked first.
  bool MayCloseNow() const { return !running; }

 private:
  std::string ProblemOfSource() const;
  std::string ProblemOfDestination() const;
  std::string ProblemOfAccount() const;
  void Start();
  std::string AccountUrl() const;
  std::string DefaultOutputPath() const;

  ProviderLookup lookup;
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
  std::string signInToken;
  std::string signInWhy;

  RunChoices choices;
  bool running = false;
  bool stopping = false;
};

#endif  // KORVANE_WINDOW_WINDOW_MODEL_H_
