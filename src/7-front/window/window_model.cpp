#include "window/window_model.h"

#include <stdlib.h>
#include <string.h>

#include "io/paths.h"
#include "kinds/output_kind.h"

namespace {

const OutputKind& KindOf(OutputChoice choice) {
  switch (choice) {
    case OutputChoice::kMaildir:
      return *OutputKindOfLetter('m');
    case OutputChoice::kEml:
      return *OutputKindOfLetter('e');
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

WindowModel::WindowModel(ProviderLookup lookup) : lookup(std::move(lookup)) {}

ButtonsView WindowModel::Buttons() const {
  ButtonsView view;
  switch (page) {
    case Page::kSource:
      view.next = Problem().empty();
      view.nextText = "&Next >";
      view.closeText = "Cancel";
      break;
    case Page::kDestination:
      view.back = true;
      view.next = Problem().empty();
      view.nextText = output == OutputChoice::kAccount ? "&Next >" : "&Start";
      view.closeText = "Cancel";
      break;
    case Page::kAccount:
      view.back = signIn != SignInState::kRunning;
      view.next = Problem().empty();
      view.nextText = "&Start";
      view.closeText = "Cancel";
      break;
    case Page::kConvert:
      view.back = !running;
      view.next = !running;
      view.nextText = "&Start";
      view.closeText = running ? "Cancel" : "Close";
      view.closeIsStop = running;
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

std::string WindowModel::ProblemOfSource() const {
  if (source.empty())
    return "Choose the mail folder, or one base (a .tbb file).";
  if (!surveyed) return "Looking at what is there...";
  if (!survey.ok) return survey.error;
  if (TotalsOf(survey).bases == 0) return SurveySummary(survey);
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
  page = Page::kSource;
  surveyTicket = source.empty() ? 0 : ++lastTicket;
  return surveyTicket;
}

void WindowModel::SurveyDone(uint64_t ticket, const SourceSurvey& result) {
  if (ticket == 0 || ticket != surveyTicket) return;
  survey = result;
  surveyed = true;
}

void WindowModel::ChooseOutput(OutputChoice choice) { output = choice; }

std::string WindowModel::DefaultOutputPath() const {
  if (source.empty() || !surveyed || !survey.ok) return "";
  const OutputKind& kind = KindOf(output);
  if (survey.tree) {
    std::string root = source;
    while (root.size() > 1 && IsPathSeparator(root.back())) root.pop_back();
    return JoinPath(ParentPath(root), LastName(root) + kind.treeSuffix);
  }
  // The base's name with the kind's ending in place of its extension.
  const std::string name = LastName(source);
  const size_t dot = name.rfind('.');
  const std::string stem =
      source.substr(0, source.size() - name.size()) +
      (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot));
  return stem + kind.singleSuffix;
}

std::string WindowModel::OutputPath() const {
  if (output == OutputChoice::kAccount) return "";
  const std::string& chosen = outputPath[static_cast<int>(output)];
  return chosen.empty() ? DefaultOutputPath() : chosen;
}

void WindowModel::SetOutputPath(const std::string& path) {
  if (output == OutputChoice::kAccount) return;
  const std::string trimmed = Trimmed(path);
  std::string& chosen = outputPath[static_cast<int>(output)];
  // The default typed back in is the default again: it follows the source.
  chosen = trimmed == DefaultOutputPath() ? "" : trimmed;
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
  const bool sameAddress = Trimmed(fields.address) == Trimmed(account.address);
  if (!sameAddress || fields.host != account.host ||
      fields.port != account.port || fields.user != account.user ||
      fields.folder != account.folder)
    account = fields;
  if (sameAddress) return;
  const std::string address = Trimmed(account.address);
  provider =
      LooksLikeAddress(address) && lookup ? lookup(address) : ProviderInfo();
  // A sign-in holds for the address it was made for.
  signIn = SignInState::kNone;
  signInToken.clear();
  signInWhy.clear();
}

std::string WindowModel::AccountFolder() const {
  if (!Trimmed(account.folder).empty()) return Trimmed(account.folder);
  if (!surveyed || !survey.ok) return "";
  if (survey.tree) return NameOf(source);
  // One base: its folder's name, as the mail program showed it.
  std::string folder = source;
  folder.resize(folder.size() - LastName(folder).size());
  return NameOf(folder);
}

void WindowModel::SignInStarted() {
  signIn = SignInState::kRunning;
  signInWhy.clear();
}

void WindowModel::SignInDone(bool ok, const std::string& tokenOrWhy) {
  if (signIn != SignInState::kRunning) return;
  signIn = ok ? SignInState::kSignedIn : SignInState::kFailed;
  (ok ? signInToken : signInWhy) = tokenOrWhy;
}

std::string WindowModel::SignInText() const {
  switch (signIn) {
    case SignInState::kNone:
      return provider.known
                 ? provider.name + ": sign in through your browser." +
                       (provider.password ? " Or type an app password below."
                                          : "")
                 : "";
    case SignInState::kRunning:
      return "Waiting for the sign-in in your browser...";
    case SignInState::kSignedIn:
      return "Signed in as " + Trimmed(account.address) + ".";
    case SignInState::kFailed:
      return "The sign-in did not work: " + signInWhy;
  }
  return "";
}

std::string WindowModel::AccountUrl() const {
  const std::string address = Trimmed(account.address);
  std::string host = provider.known ? provider.host : Trimmed(account.host);
  uint16_t port = provider.port;
  if (!provider.known) ValidPort(Trimmed(account.port), &port);
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  const std::string user =
      Trimmed(account.user).empty() ? address : Trimmed(account.user);
  return "imaps://" + UrlPart(user, false) + "@" + host + ":" +
         std::to_string(port) + "/" + UrlPart(AccountFolder(), true);
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
  choices = RunChoices();
  choices.source = source;
  choices.tree = survey.tree;
  choices.output = output;
  choices.inventory = inventory;
  if (output == OutputChoice::kAccount) {
    choices.destination = AccountUrl();
    const bool token = signIn == SignInState::kSignedIn;
    choices.credentials.kind = token ? AccountCredentials::kOAuth2Token
                                     : AccountCredentials::kPassword;
    choices.credentials.secret = token ? signInToken : account.password;
  } else {
    choices.destination = Trimmed(OutputPath());
  }
  page = Page::kConvert;
  running = true;
  stopping = false;
}
