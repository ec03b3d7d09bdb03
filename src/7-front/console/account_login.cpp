#include "console/account_login.h"

#include <stdio.h>

#include <set>
#include <vector>

#include "bytes/ascii.h"
#include "eml/eml_name.h"
#include "imap/imap_credentials.h"
#include "console/display_width.h"
#include "console/sign_in_console.h"
#include "platform/system_error.h"

namespace {

void PrintError(const std::string& text) {
  printf("error: %s", text.c_str());
  printf("\n");
}

}  // namespace

bool ReadAccount(const OutputKind& kind, const std::string& outputName,
                 AccountPlace* place, AccountAccess* access) {
  std::string why;
  if (!kind.readPlace(outputName, place, &why)) {
    PrintError("the output " + std::string(kind.name) +
               " URL can't be used: " + ConsoleText(why));
    return false;
  }
  const std::string who =
      ConsoleText(place->user) + " on " + ConsoleText(place->host);
  access->caFile = CaFileFromEnvironment();
  switch (CredentialsFromEnvironment(&access->credentials)) {
    case CredentialsFound::kFound:
      return true;
    case CredentialsFound::kAmbiguous:
      PrintError(
          "both KORVANE_PASSWORD and KORVANE_OAUTH2_TOKEN are set: unset "
          "the one not meant");
      return false;
    case CredentialsFound::kNone:
      break;
  }
  switch (SignInOnConsole(*place, access)) {
    case ConsoleSignIn::kSignedIn:
      return true;
    case ConsoleSignIn::kFailed:
      return false;
    case ConsoleSignIn::kNoProvider:
      break;
  }
  if (!StandardInputIsTerminal()) {
    PrintError("no password for " + who +
               ": set KORVANE_PASSWORD (or KORVANE_OAUTH2_TOKEN for a "
               "token), or run korvane on a terminal to be asked");
    return false;
  }
  fflush(stdout);
  access->credentials.kind = AccountCredentials::kPassword;
  if (!ReadSecret("password for " + who + ": ", &access->credentials.secret) ||
      access->credentials.secret.empty()) {
    PrintError("no password given for " + who);
    return false;
  }
  return true;
}

std::unique_ptr<Inventory> AccountInventory(FileSystem* fs,
                                            const AccountPlace& place,
                                            std::unique_ptr<Folder>* here,
                                            std::string* name) {
  DWORD error = fs->OpenFolder(".", here);
  std::vector<FolderEntry> entries;
  if (error == ERROR_SUCCESS) error = fs->List(**here, &entries);
  if (error != ERROR_SUCCESS) {
    PrintError("can't list the current folder for the inventory: " +
               SystemErrorText(error));
    return nullptr;
  }
  std::set<std::string> taken;
  for (const FolderEntry& e : entries) taken.insert(FoldedAscii(e.name));
  const std::string stem = SafeNamePart(
      place.host + "-" + (place.folder.empty() ? "INBOX" : place.folder), 100,
      200);
  for (int n = 1;; ++n) {
    *name = stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".csv";
    if (taken.count(FoldedAscii(*name)) == 0) break;
  }
  return std::unique_ptr<Inventory>(new Inventory(fs, here->get(), *name));
}

std::string TallyText(const DeliveryTally& tally) {
  std::string text = std::to_string(tally.delivered) + " uploaded, " +
                     std::to_string(tally.alreadyThere) + " already there, " +
                     std::to_string(tally.refused) + " refused";
  if (tally.nulsAsBlanks > 0)
    text += " (" + std::to_string(tally.nulsAsBlanks) +
            " with NUL bytes, sent as blanks)";
  return text;
}

void PrintTally(const std::string& where, const DeliveryTally& tally) {
  for (const std::string& refusal : tally.refusals)
    printf("refused: %s\n", ConsoleText(refusal).c_str());
  printf("%s: %s\n", ConsoleText(where).c_str(), TallyText(tally).c_str());
}
