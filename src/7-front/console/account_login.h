// Outputs that are folders of a mail account (a row with remote set): the
// place the output's name tells, the secret to log in with (read once, here,
// from the environment or a prompt that does not echo, and handed down
// through the conversion's options), and the name of a run's inventory.
#ifndef KORVANE_CONSOLE_ACCOUNT_LOGIN_H_
#define KORVANE_CONSOLE_ACCOUNT_LOGIN_H_

#include <memory>
#include <string>

#include "account/account_access.h"
#include "inventory/inventory.h"
#include "io/file_system.h"
#include "kinds/output_kind.h"

// Reads the place from outputName and the secret. False after printing
// why not (the run's status is then 2); the output's name is not repeated,
// since it may hold a password.
bool ReadAccount(const OutputKind& kind, const std::string& outputName,
                 AccountPlace* place, AccountAccess* access);

// The inventory of a run into the account, in the current folder (held in
// *here), named after the host and folder, made safe, and never over a
// file there ("-2", "-3", ... where the name is taken). Null after
// printing why not.
std::unique_ptr<Inventory> AccountInventory(FileSystem* fs,
                                            const AccountPlace& place,
                                            std::unique_ptr<Folder>* here,
                                            std::string* name);

// "N uploaded, N already there, N refused", and the messages whose NUL
// bytes went as blanks where there were any.
std::string TallyText(const DeliveryTally& tally);
// What a destination that decides each message's fate said, on the
// console: each refusal, then one line of counts for where.
void PrintTally(const std::string& where, const DeliveryTally& tally);

#endif  // KORVANE_CONSOLE_ACCOUNT_LOGIN_H_
