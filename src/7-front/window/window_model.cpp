#include "window/window_model.h"

#include <stdlib.h>
#include <string.h>

#include "io/paths.h"
#include "kinds/output_kind.h"
#include "provider/provider.h"
#include "window/shown_text.h"

namespace {

const OutputKind& KindOfChoice(OutputChoice choice) {
  switch (choice) {
    case OutputChoice::kMaildir:
      return *OutputKindOfLetter('m');
    case OutputChoice::kEml:
      return *OutputKindOfLetter('e');
    case OutputChoice::kAccount:
      return *OutputKindOfName("imaps://");
    default:
      return DefaultOutputKind();
  }
}

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

// A source's last name, without a separator at its end.
std::string NameOf(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && IsPathSeparator(trimmed.back()))
    trimmed.pop_back();
  return LastName(trimmed);
}

// name@domain, with no blank and one "@".
bool LooksLikeAddress(const std::string& address) {
  const size_t at = address.find('@');
  return at != std::string::npos && at > 0 && at + 1 < address.size() &&
         address.find('@', at + 1) == std::string::npos &&
         address.find_first_of(" \t/\\") == std::string::npos;
}

// Percent-escapes what a URL's user or folder part cannot hold as it is.
std::string UrlPart(const std::string& text, bool keepSlash) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                       (b >= '0' && b <= '9') || b >= 0x80 ||
                       (c == '/' && keepSlash) ||
                       (c != '/' && strchr("-._~!$&'()*+,;=", c) != nullptr);
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

bool ValidPort(const std::string& text, uint16_t* port) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long value = strtol(text.c_str(), nullptr, 10);
  if (value < 1 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

ProviderInfo KnownProvider(const std::string& address,
                           const std::string& host) {
  ProviderInfo info;
  const Provider* provider = ProviderForAddress(address);
  std::string unknown;
  if (provider == nullptr && !host.empty()) {
    provider = ProviderFromEnvironment(host, &unknown);
    info.byHost = provider != nullptr;
  }
  if (provider == nullptr) return info;
  info.known = true;
  info.name = provider->title;
  info.host = provider->imapHost;
  info.password = provider->passwords;
  return info;
}

ButtonsView WindowModel::Buttons() const {
  ButtonsView view;
  view.closeText = "Cancel";
  switch (page) {
    case Page::kSource:
      view.next = Problem().empty();
      view.nextText = "&Next >";
      break;
    case Page::kDestination:
      view.back = true;
      view.next = Problem().empty();
      view.nextText = output == OutputChoice::kAccount ? "&Next >" : "&Start";
      break;
    case Page::kAccount:
      view.back = signIn != SignInState::kRunning;
      view.next = Problem().empty() && signIn != SignInState::kRunning;
      view.nextText = "&Start";
      break;
    case Page::kConvert:
      view.back = !running;
      view.next = !running;
      view.nextText = "&Start";
      if (!running) view.closeText = "Close";
      break;
    case Page::kDone:
      view.back = true;
      view.closeText = "Close";
      break;
  }
  return view;
}

std::string WindowModel::Problem() const {
  switch (page) {
    case Page::kSource:
      return ProblemOfSource();
    case Page::kDestination:
      return ProblemOfDestination();
    case Page::kAccount:
      return ProblemOfAccount();
    default:
      return "";
  }
}

std::string WindowModel::Title() const {
  switch (page) {
    case Page::kSource:
      return "Where is your mail?";
    case Page::kDestination:
      return "Where should the mail go?";
    case Page::kAccount:
      return "Which account?";
    case Page::kConvert:
      if (running && stopping) return "Stopping...";
      return OutcomeTitle(record);
    case Page::kDone:
      return OutcomeTitle(record);
  }
  return "";
}

std::string WindowModel::Intro() const {
  switch (page) {
    case Page::kSource:
      return "Choose the mail folder of your old mail program, or one "
             "message base (a .tbb file). You can also drop it on this "
             "window. Nothing in it is changed.";
    case Page::kDestination:
      return "korvane makes a copy; your mail folder stays as it is.";
    case Page::kAccount:
      return "Type the address of the account. korvane knows Outlook.com, "
             "Microsoft 365 and Gmail; for other providers it needs the name "
             "of the mail server.";
    case Page::kConvert:
      return "From " + ShownText(source) + " into " +
             ShownText(record.destination) + ".";
    case Page::kDone:
      return OutcomeSummary(record);
  }
  return "";
}

std::string WindowModel::ProblemOfSource() const {
  if (source.empty())
    return "Choose the mail folder, or one base (a .tbb file).";
  if (!surveyed) return "Looking at what is there...";
  if (!survey.ok || TotalsOf(survey).bases == 0) return SurveySummary(survey);
  return "";
}

std::string WindowModel::ProblemOfDestination() const {
  if (output != OutputChoice::kAccount && Trimmed(OutputPath()).empty())
    return "Choose where the mail goes.";
  return "";
}

std::string WindowModel::ProblemOfAccount() const {
  const std::string address = Trimmed(account.address);
  if (address.empty()) return "Type the address of the account.";
  if (!LooksLikeAddress(address))
    return "An address has the form name@example.com.";
  if (signIn == SignInState::kRunning) return "Waiting for the sign-in...";
  if (ShowsSignIn() && signIn == SignInState::kSignedIn) return "";
  if (ShowsSignIn() && !ShowsPassword()) return "Sign in to the account.";
  if (ShowsServer() && Trimmed(account.host).empty())
    return "Type the name of the mail server (IMAP).";
  uint16_t port = 0;
  if (ShowsServer() && !ValidPort(Trimmed(account.port), &port))
    return "The port is a number from 1 to 65535 (993 for most servers).";
  if (account.password.empty())
    return ShowsSignIn() ? "Sign in to the account, or type an app password."
                         : "Type the password of the account.";
  if (Trimmed(AccountFolder()).empty())
    return "Type the folder of the account the mail goes into.";
  return "";
}

uint64_t WindowModel::ChooseSource(const std::string& path) {
  if (running) return 0;
  source = Trimmed(path);
  surveyed = false;
  survey = SourceSurvey();
  report.clear();
  page = Page::kSource;
  surveyTicket = source.empty() ? 0 : ++lastTicket;
  return surveyTicket;
}

bool WindowModel::SurveyPlanned(uint64_t ticket, bool tree,
                                const TreeFolders& folders) {
  if (ticket == 0 || ticket != surveyTicket) return false;
  survey.ok = true;
  survey.counted = false;
  survey.tree = tree;
  survey.folders = folders;
  surveyed = true;
  return true;
}

bool WindowModel::SurveyScanned(uint64_t ticket, size_t index,
                                const TreeFolder& folder) {
  if (ticket == 0 || ticket != surveyTicket || index >= survey.folders.size())
    return false;
  survey.folders[index] = folder;
  return true;
}

bool WindowModel::SurveyFinished(uint64_t ticket, const Status& failure) {
  if (ticket == 0 || ticket != surveyTicket) return false;
  surveyed = true;
  survey.counted = failure.IsOk();
  if (!failure.IsOk() && !survey.ok) survey.error = failure.Text();
  return true;
}

std::string WindowModel::SurveyLabel(size_t index) const {
  return ShownText(FolderLabel(survey.folders, index, NameOf(source)));
}

void WindowModel::ChooseOutput(OutputChoice choice) { output = choice; }

// The request as the choices make it, before Start fills in the rest.
RunRequest WindowModel::ChosenRequest() const {
  RunRequest chosen;
  chosen.source = source;
  chosen.tree = survey.tree;
  chosen.kind = &KindOfChoice(output);
  chosen.inventory = inventory;
  // A base is read as a tree's are: no message left behind.
  chosen.recover = true;
  return chosen;
}

std::string WindowModel::DefaultOutputPath() const {
  if (source.empty() || !surveyed || !survey.ok) return "";
  return DefaultDestination(ChosenRequest());
}

std::string WindowModel::OutputPath() const {
  if (output == OutputChoice::kAccount) return "";
  const std::string& chosen = outputPath[static_cast<int>(output)];
  return chosen.empty() ? DefaultOutputPath() : chosen;
}

void WindowModel::SetOutputPath(const std::string& path) {
  if (output == OutputChoice::kAccount) return;
  const std::string trimmed = Trimmed(path);
  // The default typed back in is the default again: it follows the source.
  outputPath[static_cast<int>(output)] =
      trimmed == DefaultOutputPath() ? "" : trimmed;
}

void WindowModel::ChooseOutputFolder(const std::string& folder, bool empty) {
  const std::string name = LastName(DefaultOutputPath());
  SetOutputPath(empty || name.empty() ? folder : JoinPath(folder, name));
}

std::string WindowModel::OutputDescription(OutputChoice choice) {
  switch (choice) {
    case OutputChoice::kThunderbird:
      return "A folder of mailboxes beside the mail folder, for Thunderbird "
             "and most other mail programs.";
    case OutputChoice::kMaildir:
      return "One file per message in Maildir folders, for Dovecot, mutt and "
             "other Linux mail programs.";
    case OutputChoice::kEml:
      return "One file per message, which Windows mail programs open with a "
             "double click.";
    case OutputChoice::kAccount:
      return "Every message uploaded into your mail account: Outlook.com, "
             "Microsoft 365, Gmail or any IMAP server.";
  }
  return "";
}

void WindowModel::SetAccount(const AccountFields& fields) {
  const bool sameAccount =
      Trimmed(fields.address) == Trimmed(account.address) &&
      Trimmed(fields.host) == Trimmed(account.host);
  account = fields;
  if (sameAccount) return;
  const std::string address = Trimmed(account.address);
  provider = LooksLikeAddress(address)
                 ? KnownProvider(address, Trimmed(account.host))
                 : ProviderInfo();
  // A sign-in holds for the account it was made for.
  signIn = SignInState::kNone;
  signInSays.clear();
  tokens.reset();
}

std::string WindowModel::AccountFolder() const {
  if (!Trimmed(account.folder).empty()) return Trimmed(account.folder);
  if (source.empty()) return "";
  if (survey.tree) return NameOf(source);
  // One base: its folder's name, as the mail program showed it.
  std::string folder = source;
  folder.resize(folder.size() - LastName(folder).size());
  return NameOf(folder);
}

void WindowModel::SignInStarted() {
  signIn = SignInState::kRunning;
  signInSays.clear();
  tokens.reset();
}

void WindowModel::SignInPage(const std::string& url, bool opened) {
  if (signIn != SignInState::kRunning) return;
  signInSays = opened ? ""
                      : "No browser could be opened: open " + url +
                            " in one, and sign in there.";
}

void WindowModel::SignInCode(const std::string& page, const std::string& code) {
  if (signIn != SignInState::kRunning) return;
  signInSays =
      "On any device, go to " + page + " and enter the code " + code + ".";
}

void WindowModel::SignInDone(const Status& status, const std::string& hint,
                             std::shared_ptr<AccessTokens> signedIn) {
  if (signIn != SignInState::kRunning) return;
  signIn =
      status.IsOk() && signedIn ? SignInState::kSignedIn : SignInState::kFailed;
  tokens = signIn == SignInState::kSignedIn ? std::move(signedIn) : nullptr;
  signInSays = status.IsOk()
                   ? ""
                   : status.Text() + "." + (hint.empty() ? "" : " " + hint);
}

std::string WindowModel::SignInText() const {
  switch (signIn) {
    case SignInState::kNone:
      if (!provider.known) return "";
      return provider.name + ": sign in through your browser." +
             (provider.password ? " Or type an app password below." : "");
    case SignInState::kRunning:
      return signInSays.empty() ? "Sign in in the browser window that opened..."
                                : ShownText(signInSays);
    case SignInState::kSignedIn:
      return "Signed in as " + ShownText(Trimmed(account.address)) + ".";
    case SignInState::kFailed:
      return "The sign-in did not work: " + ShownText(signInSays);
  }
  return "";
}

std::string WindowModel::SignInUser() const {
  return Trimmed(account.user).empty() ? Trimmed(account.address)
                                       : Trimmed(account.user);
}

std::string WindowModel::SignInHost() const {
  return ShowsServer() ? Trimmed(account.host) : provider.host;
}

std::string WindowModel::AccountUrl() const {
  std::string host = SignInHost();
  uint16_t port = 993;
  if (ShowsServer()) ValidPort(Trimmed(account.port), &port);
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  const std::string user = SignInUser();
  return "imaps://" + UrlPart(user, false) + "@" + host + ":" +
         std::to_string(port) + "/" + UrlPart(AccountFolder(), true);
}

std::string WindowModel::OutputFolder() const {
  if (output == OutputChoice::kAccount) return "";
  // A single mbox is a file: its folder.
  if (!request.tree && output == OutputChoice::kThunderbird)
    return ParentPath(request.destination.value_or(""));
  return request.destination.value_or("");
}

std::string WindowModel::ReportName() const {
  return NameOf(source) + " - korvane report.jsonl";
}

std::string WindowModel::InventoryFolder() const {
  std::string path = source;
  while (path.size() > 1 && IsPathSeparator(path.back())) path.pop_back();
  return ParentPath(path);
}

void WindowModel::Back() {
  if (!Buttons().back) return;
  switch (page) {
    case Page::kDestination:
      page = Page::kSource;
      break;
    case Page::kAccount:
      page = Page::kDestination;
      break;
    case Page::kConvert:
    case Page::kDone:
      page = output == OutputChoice::kAccount ? Page::kAccount
                                              : Page::kDestination;
      break;
    default:
      break;
  }
}

bool WindowModel::Next() {
  if (!Buttons().next) return false;
  if (page == Page::kSource) {
    page = Page::kDestination;
  } else if (page == Page::kDestination && output == OutputChoice::kAccount) {
    page = Page::kAccount;
  } else {
    Start();
  }
  return true;
}

void WindowModel::Start() {
  request = ChosenRequest();
  record = RunRecord();
  record.tree = request.tree;
  record.tallied = output == OutputChoice::kAccount;
  record.topName = NameOf(source);
  if (output == OutputChoice::kAccount) {
    request.destination = AccountUrl();
    // Signed in, the run's connections ask the sign-in's tokens, renewed
    // as they run out; else the password.
    const bool token = signIn == SignInState::kSignedIn;
    request.account.credentials.kind = token ? AccountCredentials::kOAuth2Token
                                             : AccountCredentials::kPassword;
    if (token)
      request.account.credentials.tokens = tokens;
    else
      request.account.credentials.secret = account.password;
    record.destination =
        "the folder \"" + AccountFolder() + "\" of " + Trimmed(account.address);
    record.workFolder = InventoryFolder();
  } else {
    request.destination = Trimmed(OutputPath());
    record.destination = *request.destination;
  }
  progress.Clear();
  page = Page::kConvert;
  running = true;
  stopping = false;
}

void WindowModel::RunEarlier(const EarlierRunInfo& earlier) {
  record.earlier = earlier;
  record.carriedOn = true;
}

void WindowModel::RunPlanned(const RunPlan& plan, const TreeFolders& folders) {
  record.planned = true;
  record.tallied = plan.tallied;
  record.folders = folders;
  progress.Planned(plan, folders, record.topName);
}

void WindowModel::RunBaseStarted(size_t index) { progress.BaseStarted(index); }

void WindowModel::RunProgressed(const RunProgress& figures) {
  progress.Advanced(figures);
}

void WindowModel::RunBaseFinished(size_t index, const TreeFolder& folder) {
  progress.BaseFinished(index, folder);
  if (index < record.folders.size()) record.folders[index] = folder;
}

void WindowModel::RunTold(const Notice& notice) {
  record.notices.push_back(notice);
}

void WindowModel::RunError(const Status& error) {
  record.errors.push_back(error);
}

void WindowModel::RunFinished(const RunReport& report,
                              const TreeFolders& folders) {
  record.finished = true;
  record.report = report;
  record.report.folders = nullptr;
  if (report.planned) record.folders = folders;
  running = stopping = false;
  // A run that went to its end shows its outcome; a stopped one, and one
  // that could not start, stay where Start carries them on.
  if (report.planned && !report.cancelled) page = Page::kDone;
}

std::string WindowModel::RunNotes() const {
  return OutcomeNotes(record, page == Page::kDone);
}
