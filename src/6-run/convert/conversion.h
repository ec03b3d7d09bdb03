// One conversion: one message base into one output, as a call that prints
// nothing and ends nothing. Several may run at once on different threads;
// each reports how it went in its result, and only the caller decides what
// the console shows and how the process ends.
#ifndef KORVANE_CONVERT_CONVERSION_H_
#define KORVANE_CONVERT_CONVERSION_H_

#include <stdint.h>

#include <atomic>
#include <string>

#include "destination/destination.h"
#include "framing/message_observer.h"
#include "platform/system_error.h"
#include "platform/win32.h"
#include "status/status.h"

enum class ScanKind {
  kNormal,       // the record chain
  kAlternative,  // the search for message starts (-a)
  kRecovered,    // the normal scan, then the alternative one for the rest
};

struct ConversionOptions {
  bool alternativeScan = false;
  int32_t minHeaderSize = 64;      // X of -a[X][:Y]
  int32_t compatibilityLevel = 2;  // Y of -a[X][:Y]
  // Where the base's messages go (how its output is made and framed);
  // null: the default kind's destination (an mbox file).
  Destination* destination = nullptr;

  // Leave no message behind (tree mode): a base the normal scan does not
  // recognise goes to the alternative scan; a walk that breaks off at an
  // unusable record keeps what it wrote and hands the rest of the base to
  // the alternative scan; a base of 0 bytes is an empty folder.
  bool recover = false;
  // Refuse to replace an existing output (tree mode creates each one anew).
  bool outputMustBeNew = false;
  // The output's place was made for this conversion by the caller (tree
  // mode's layout): it is written into as it is.
  bool outputMade = false;

  // The file system the base is read from and the output made on; null
  // for the real one.
  FileSystem* fs = nullptr;
  // The open folder the base's name is in, and the one the output's name
  // is in; null: the name is a path as the user gave it.
  const Folder* baseFolder = nullptr;
  const Folder* outputFolder = nullptr;

  // Write a streamed output on a thread of its own while the next piece is
  // converted: faster with a processor to spare, slower without one.
  bool writeBehind = false;
  // Or from the first piece after this turns true (tree mode: a worker has
  // run out of bases, and its processor is spare).
  const std::atomic<bool>* writeBehindFrom = nullptr;

  // Told of every record the scan meets (the inventory); may be null.
  MessageObserver* observer = nullptr;

  // The millisecond clock for the progress throttle; tests substitute theirs.
  DWORD (*tickCount)() = nullptr;  // null: GetTickCount

  // Nothing is made or written: the scans count the messages a conversion
  // would write (a survey of the base).
  bool countOnly = false;

  // Set from any thread to stop the conversion at its next message
  // (kCancelled): the output is not finished, so what has its final name
  // stays whole. Null: not cancellable.
  const std::atomic<bool>* cancel = nullptr;
};

enum class ConversionOutcome {
  kConverted,         // the scan ran to its end (possibly with 0 messages)
  kNotRecognised,     // the normal scan does not accept the base
  kNothingFound,      // the alternative scan found no message start
  kCantOpenBase,      // missing, empty, not a file, too large, ...
  kCantReadBase,      // the base failed while it was read (it shrank, ...)
  kCantCreateOutput,  // the output could not be created
  kCantWriteOutput,   // a write to the output failed (disk full, ...)
  kCancelled,         // stopped by ConversionOptions::cancel, not finished
};

struct ConversionResult {
  ConversionOutcome outcome = ConversionOutcome::kConverted;
  // What went wrong, for the failures: its kind, the system's code where
  // there is one, and the words ("the file shrank while it was being
  // read", "no such file or folder", "the disk is full", a server's
  // answer).
  Status failure;
  bool baseTooLarge = false;  // kCantOpenBase: 4 GiB or more
  // kCantCreateOutput: the output named is a message base, which is never
  // replaced.
  bool outputIsBase = false;
  ScanKind scan = ScanKind::kNormal;
  int32_t messages = 0;
  uint64_t bytesRead = 0;     // the size of the base
  uint64_t bytesWritten = 0;  // to the output
  // The normal scan met a record it could not use.
  bool corruptionWarning = false;
  // recover: a base of 0 bytes, converted to an empty output.
  bool emptyBase = false;
  // recover: the alternative scan took over all or the rest of the base.
  bool recovered = false;
  // Where the destination decides each message's fate (MessageSink::Tally):
  // what it decided, as far as the conversion got.
  bool tallied = false;
  DeliveryTally tally;
};

// Told how a conversion goes while it runs, on the conversion's own thread.
class ConversionProgress {
 public:
  virtual ~ConversionProgress() {}
  // The output exists and the scanner is built; the scan starts now.
  virtual void ScanStarting(ScanKind scan) { (void)scan; }
  // Once right after the scanner is attached, then at most every ~100 ms
  // while messages are written. percent of the base, bytes of it done,
  // and the messages written so far.
  virtual void Advanced(unsigned percent, uint64_t bytesDone,
                        uint64_t messages) {
    (void)percent;
    (void)bytesDone;
    (void)messages;
  }
  // The normal scan met its first unusable record.
  virtual void CorruptionFound() {}
};

// done * 100 / total, truncated, without overflow; 0 for a total of 0.
unsigned PercentOf(uint64_t done, uint64_t total);

// Converts the base named baseName into outputName, each a path or, where
// options name its open folder, one name in it (the output then made as
// OutputOptions tells). progress may be null.
ConversionResult ConvertBase(const char* baseName, const char* outputName,
                             const ConversionOptions& options,
                             ConversionProgress* progress);

#endif  // KORVANE_CONVERT_CONVERSION_H_
