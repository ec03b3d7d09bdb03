// What a provider's IMAP answers mean beyond their words: a pause it asks
// for, and the end of what it takes in a day.
#ifndef KORVANE_PROVIDER_PROVIDER_SIGNALS_H_
#define KORVANE_PROVIDER_PROVIDER_SIGNALS_H_

#include <stdint.h>

#include <string>

#include "provider/provider.h"

// The pause a throttled server asks for, in milliseconds, from its words
// ("BAD Request is throttled. Suggested Backoff Time: 299961
// milliseconds"). False where it asks for none.
bool SuggestedBackoffMs(const std::string& text, int64_t* ms);

// Whether an answer (its response code's name, as "OVERQUOTA", and its
// text) says that the account has taken all a provider with a daily limit
// takes today (Gmail: "NO [OVERQUOTA] Account exceeded command or
// bandwidth limits."; also in a BYE). False for a provider without one.
bool SaysDailyLimit(const Provider* provider, const std::string& code,
                    const std::string& text);

#endif  // KORVANE_PROVIDER_PROVIDER_SIGNALS_H_
