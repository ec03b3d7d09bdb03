// Told of every record a conversion's scan meets: what the inventory of a
// run is made from, whatever the output kind.
#ifndef KORVANE_FRAMING_MESSAGE_OBSERVER_H_
#define KORVANE_FRAMING_MESSAGE_OBSERVER_H_

#include <string>

#include "framing/message_sink.h"

class MessageObserver {
 public:
  virtual ~MessageObserver() {}
  // Each record in scan order, on the conversion's thread. A message the
  // writer wrote: its facts and where it went (output). One it could not
  // write: its facts and why not (problem). An empty record: its place
  // and why it was passed over; its text, time and sender are empty.
  virtual void Record(const MessageFacts& message, const std::string& output,
                      const std::string& problem) = 0;
  // The conversion is over; whatever was told is to be kept now.
  virtual void Finished() = 0;
};

#endif  // KORVANE_FRAMING_MESSAGE_OBSERVER_H_
